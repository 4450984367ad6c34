#!/usr/bin/env bash
# Installs each package as an operator would and mails a message through it: the .deb with apt (as
# root), run as an unprivileged user of the kelvorin group, rotated, removed and purged; each
# Windows ZIP unpacked and run under Wine. One line a check: "ok: what" or "FAILED: what".
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
printf '[shop_%s]\nDriver=/usr/lib/%s-linux-gnu/odbc/libsqlite3odbc.so\nDatabase=%s\n' \
  x86_64 x86_64 "$work/shop.db" i386 i386 "$work/shop.db" >"$work/odbc.ini"
template='Subject: Your order\r\n<<< ann@example.com\r\n\r\nDear %%1%%: #%%2%% %%3%% EUR %%4%%\r\n'
message() { printf '%b' "$template" >"$1" && chown nobody "$1"; }  # writable by the host user
# A package's run ($2...) on messages in this folder: unconfigured, it keeps a message in
# $quarantine; with Source=$1 in $ini it merges one and logs it in $log.
mails() {
  message early && cp early "$work/early.$what" && "${@:2}" early
  check "$what: an unconfigured run keeps the message in the quarantine" \
    '[ ! -e early ] && cmp -s "$work/early.$what" "$quarantine/early"'
  sed -i "s/^Source=[^\r]*/Source=$1/" "$ini"
  message m1 && "${@:2}" m1
  check "$what: a message merged on SQLite, logged in $log" \
    'grep -q "Dear Ann Lee: #1041 Mapping the Deep EUR 32.50" m1 && grep -q "Complete!" "$log"'
}

echo "== the Debian package"
# Through apt, which waits while another install holds dpkg's lock.
apt() { DEBIAN_FRONTEND=noninteractive apt-get -qq -y -o DPkg::Lock::Timeout=900 "$@" >/dev/null; }
apt purge kelvorin 2>/dev/null  # a package and settings left by an earlier run
apt install "$(ls "$dist"/kelvorin_*.deb)"
host() { setpriv --reuid=nobody --regid=nogroup --groups=kelvorin -- "$@"; }
check "kelvorin-check on the PATH tells the version" \
  '[ "$(kelvorin-check --version)" = "kelvorin-check 1.1.0" ]'
mkdir -m 777 "$work/deb" && cd "$work/deb" || exit 1
what=deb quarantine=/var/spool/kelvorin/quarantine ini=/etc/kelvorin/kelvorin.INI
log=/var/log/kelvorin/kelvorin.LOG
mails shop_x86_64 host /usr/lib/kelvorin/kelvorin
message m2
check "kelvorin-check finds the INI through its link" 'host kelvorin-check m2 >/dev/null 2>&1'
logrotate -f -s "$work/logrotate.state" /etc/logrotate.d/kelvorin
host /usr/lib/kelvorin/kelvorin m2
check "after logrotate the next run logs to a new file" \
  'grep -q "Complete!" "$log" && [ -s "$log.1" ]'
apt remove kelvorin && apt purge kelvorin
check "purge leaves nothing behind" '! dpkg -S kelvorin >/dev/null 2>&1 &&
  ! getent group kelvorin && [ -z "$(ls -d /etc/kelvorin* /usr/lib/kelvorin /usr/bin/kelvorin* \
  /var/log/kelvorin /var/spool/kelvorin /usr/share/doc/kelvorin 2>/dev/null)" ]'

# Wine's prefix as scripts/test.sh prepared it; its 32-bit loader for win32.
export WINEPREFIX=${KELVORIN_WINEPREFIX:-$HOME/.cache/kelvorin-wine} WINEDEBUG=-all
for zip in "$dist"/kelvorin-*-win*.zip; do
  what=${zip##*-} && what=${what%.zip} quarantine=quarantine ini=kelvorin.INI log=kelvorin.LOG
  echo "== the Windows ZIP $what"
  mkdir "$work/$what" && unzip -q "$zip" -d "$work/$what" && cd "$work/$what" || exit 1
  wine=$root/cmake/wine-run.sh driver=x86_64
  [ "$what" = win32 ] && wine=/usr/lib/wine/wine driver=i386
  mails "shop_$driver" "$wine" kelvorin.exe
done
