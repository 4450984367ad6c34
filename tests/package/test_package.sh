#!/usr/bin/env bash
# Installs each package as an operator would and mails a message through it: the .deb with apt (as
# root), run as an unprivileged user of the kelvorin group, rotated, removed and purged; each
# Windows ZIP unpacked and run under Wine. Before Source is set, a run keeps the message in the
# quarantine. One line a check: "ok: what" or "FAILED: what".
#   tests/package/test_package.sh DIST   (DIST as scripts/package.sh leaves it)
set -uo pipefail
dist=$(realpath "$1")
root=$(realpath "$(dirname "$0")/../..")
# Under /var: a quarantined message is moved in one step, so same volume.
work=$(mktemp -d /var/tmp/kelvorin-package.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fi; }

sqlite3 "$work/shop.db" "CREATE TABLE orders(email, name, order_no, title, amount REAL);
  INSERT INTO orders VALUES('ann@example.com', 'Ann Lee', 1041, 'Mapping the Deep', 32.5);"
# System data sources (root's, read-only to the host user) in a folder of the test's own.
unset ODBCINI
export ODBCSYSINI=$work
cp /etc/odbcinst.ini "$work/"
for arch in x86_64 i386; do
  printf '[shop_%s]\nDriver=/usr/lib/%s-linux-gnu/odbc/libsqlite3odbc.so\nDatabase=%s\n' \
    "$arch" "$arch" "$work/shop.db"
done >"$work/odbc.ini"
merged='Dear Ann Lee: #1041 Mapping the Deep EUR 32.50'
message() {  # a fresh message at $1, writable by the host user
  printf 'Subject: Your order\r\n<<< ann@example.com\r\n\r\nDear %%%%1%%%%: #%%%%2%%%% %%%%3%%%% EUR %%%%4%%%%\r\n' >"$1"
  chown nobody "$1"
}

echo "== the Debian package"
# Through apt, which waits while another install holds dpkg's lock.
apt() { DEBIAN_FRONTEND=noninteractive apt-get -qq -y -o DPkg::Lock::Timeout=900 "$@" >/dev/null; }
apt purge kelvorin 2>/dev/null  # a package and settings left by an earlier run
apt install "$(ls "$dist"/kelvorin_*.deb)"
host() { setpriv --reuid=nobody --regid=nogroup --groups=kelvorin -- "$@"; }
mkdir -m 777 "$work/spool"
check "kelvorin-check on the PATH tells the version" \
  '[ "$(kelvorin-check --version)" = "kelvorin-check 1.1.0" ]'
message "$work/spool/early" && cp "$work/spool/early" "$work/early"
host /usr/lib/kelvorin/kelvorin "$work/spool/early"
check "an unconfigured run keeps the message in the quarantine" \
  '[ ! -e $work/spool/early ] && cmp -s $work/early /var/spool/kelvorin/quarantine/early'
sed -i 's/^Source=.*/Source=shop_x86_64/' /etc/kelvorin/kelvorin.INI
message "$work/spool/m1"
check "kelvorin-check finds the INI through its link" \
  'host kelvorin-check "$work/spool/m1" >/dev/null 2>&1'
host /usr/lib/kelvorin/kelvorin "$work/spool/m1"
check "the host user merges a message, logged in /var/log/kelvorin" \
  'grep -q "$merged" "$work/spool/m1" &&
  tail -n 1 /var/log/kelvorin/kelvorin.LOG | grep -q "Complete!"'
logrotate -f -s "$work/logrotate.state" /etc/logrotate.d/kelvorin
message "$work/spool/m2" && host /usr/lib/kelvorin/kelvorin "$work/spool/m2"
check "after logrotate the next run logs to a new file" \
  'grep -q "Complete!" /var/log/kelvorin/kelvorin.LOG && [ -s /var/log/kelvorin/kelvorin.LOG.1 ]'
apt remove kelvorin && apt purge kelvorin
check "purge leaves nothing behind" '! dpkg -S kelvorin >/dev/null 2>&1 &&
  ! getent group kelvorin && [ -z "$(ls -d /etc/kelvorin* /usr/lib/kelvorin /usr/bin/kelvorin* \
  /var/log/kelvorin /var/spool/kelvorin /usr/share/doc/kelvorin 2>/dev/null)" ]'

# Wine's prefix as scripts/test.sh prepared it; its 32-bit loader for win32.
export WINEPREFIX=${KELVORIN_WINEPREFIX:-$HOME/.cache/kelvorin-wine} WINEDEBUG=-all
for zip in "$dist"/kelvorin-*-win*.zip; do
  bits=${zip##*-} && bits=${bits%.zip} && folder=$work/$bits
  echo "== the Windows ZIP $bits"
  mkdir "$folder" && unzip -q "$zip" -d "$folder" && cd "$folder" || exit 1
  wine=$root/cmake/wine-run.sh driver=x86_64
  [ "$bits" = win32 ] && wine=/usr/lib/wine/wine driver=i386
  message early && cp early "$work/early.$bits" && "$wine" kelvorin.exe early
  check "$bits: an unconfigured run keeps the message in the quarantine" \
    '[ ! -e early ] && cmp -s "$work/early.$bits" quarantine/early'
  sed -i "s/^Source=[^\r]*/Source=shop_$driver/" kelvorin.INI
  message m1 && "$wine" kelvorin.exe m1
  check "$bits: a message merged on SQLite" 'grep -q "$merged" m1 && grep -q "Complete!" kelvorin.LOG'
  cd "$root"
done
