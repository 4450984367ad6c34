#!/usr/bin/env bash
# The program's main job in one command: builds kelvorin, lays it out under
# build/demo/ with its INI, a query file and a sample SQLite database of
# customers and orders behind an ODBC data source, merges one customer's
# message, and shows the message before and after and the run's log lines;
# then lets kelvorin-check find the mistakes in a draft template.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-missing.sh cmake g++ libgtest-dev unixodbc unixodbc-dev libsqliteodbc sqlite3

echo "== building build/kelvorin"
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target kelvorin kelvorin-check >/dev/null

demo=$root/build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp build/kelvorin build/kelvorin-check "$demo/"

sqlite3 "$demo/shop.db" <<'SQL'
CREATE TABLE customers (id INTEGER PRIMARY KEY, email VARCHAR(100), name VARCHAR(60));
CREATE TABLE orders (order_no INTEGER, customer_id INTEGER, placed DATE,
                     title VARCHAR(80), amount NUMERIC(10,2));
INSERT INTO customers VALUES (1, 'o''brien@example.com', 'Siobhán O''Brien'),
                             (2, 'lee@example.com', 'Lee Chen');
INSERT INTO orders VALUES (1041, 1, '2026-11-03', 'The Shipping News', 14.90),
                          (1057, 1, '2026-11-19', 'Mapping the Deep', 32.50),
                          (1063, 1, '2026-12-01', 'Gödel, Escher, Bach', 27.00),
                          (1044, 2, '2026-11-05', 'Someone else''s order', 99.99);
SQL

# The machine's own architecture: scripts/test.sh also installs the i386 driver, and
# dpkg -L refuses a name that two architectures share.
driver=$(dpkg -L "libsqliteodbc:$(dpkg --print-architecture)" | grep '/libsqlite3odbc\.so$' |
  head -n 1)
cat > "$demo/odbc.ini" <<EOF_INI
[kelvorin_demo]
Description=Kelvorin demo shop
Driver=$driver
Database=$demo/shop.db
EOF_INI

printf '%s\r\n' '[Database]' 'Source=kelvorin_demo' 'Request=orders.sql' \
  '[Options]' 'DeleteOnErrors=No' >"$demo/kelvorin.INI"

cat >"$demo/orders.sql" <<'SQL'
SELECT c.name, o.order_no, o.placed, o.title, o.amount
FROM customers c JOIN orders o ON o.customer_id = c.id
WHERE c.email = '%recipient%'
ORDER BY o.placed
SQL
truncate -s -1 "$demo/orders.sql"  # no line break after the statement

printf '%s\r\n' 'From: Northwind Books <orders@northwind.example>' \
  'Subject: Your recent orders' '<<< o'"'"'brien@example.com' '' 'Dear %%1%%,' '' \
  'here is what you ordered from us:' '%kelvorin%' '  #%%2%%  %%3%%  %%4%%  EUR %%5%%' \
  '%kelvorin%' '' 'The first of them was #%%2%%. Thank you!' >"$demo/message.txt"

echo; echo "== the message before the run (build/demo/message.txt)"
cat "$demo/message.txt" | tr -d '\r'
echo; echo "== running: build/demo/kelvorin message.txt (ODBCINI=build/demo/odbc.ini)"
(cd "$demo" && ODBCINI="$demo/odbc.ini" ./kelvorin message.txt)
echo; echo "== the message after the run"
cat "$demo/message.txt" | tr -d '\r'
echo; echo "== the log of the run (build/demo/kelvorin.LOG)"
cat "$demo/kelvorin.LOG" | tr -d '\r'

printf '%s\r\n' 'Subject: Your orders, %%1%%' '<<< lee@example.com' '' \
  'Your orders:' '%kelvorin%' '  #%%2%%  %%4%%  EUR %%6%%' '' 'Yours, Northwind' >"$demo/draft.txt"
echo; echo "== a draft template, checked: build/demo/kelvorin-check draft.txt"
cat "$demo/draft.txt" | tr -d '\r'
echo "-- standard error:"
(cd "$demo" && ODBCINI="$demo/odbc.ini" ./kelvorin-check draft.txt 2>&1 >/dev/null | tr -d '\r') ||
  echo "-- exit status $? (1: problems found)"
