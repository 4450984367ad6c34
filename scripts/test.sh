#!/usr/bin/env bash
# Installs what is missing, builds the Linux and the Windows program, starts
# the database servers the tests use (on private sockets), and runs every
# test: unit tests of both builds (the Windows ones under Wine), the system
# tests of both programs against the real engines, the packages installed
# and run (the .deb with dpkg: as root), the Linux suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for a
# short while (KELVORIN_FUZZ_SECONDS, default 30).
#
#   scripts/test.sh           all of it (what CI runs)
#   scripts/test.sh --quick   the Linux build and its tests only: no Wine,
#                             no sanitizers, no fuzzing
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
quick=false
case ${1:-} in
  --quick) quick=true ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

packages=(cmake g++ libgtest-dev g++-mingw-w64-x86-64-posix wine wine64 unixodbc unixodbc-dev
  libsqliteodbc sqlite3 postgresql-15 odbc-postgresql mariadb-server odbc-mariadb pgbouncer
  clang libclang-rt-dev python3-pyodbc python3-hypothesis)
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo -E"
if ! $quick; then
  # The packages' test: the 32-bit Windows program runs under Wine's 32-bit
  # loader, whose odbc32 calls the i386 unixODBC and SQLite driver (which
  # reads its data source through libodbcinst).
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  packages+=(wine32:i386 libodbc2:i386 libodbcinst2:i386 libsqliteodbc:i386 logrotate)
fi
scripts/install-missing.sh "${packages[@]}"

jobs=$(nproc)
windows=""
if ! $quick; then
  echo "== building for Windows (build-win)"
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  cmake --build build-win -j "$jobs"
  windows=$root/build-win/kelvorin.exe
fi

# The data sources of the system tests, named in a test-local odbc.ini.
# Under /tmp: the database servers run as their own users, who may not be
# allowed into the folder of this checkout.
state=$(mktemp -d /tmp/kelvorin-engines.XXXXXX)
chmod 755 "$state"
wine_server=false
cleanup() {
  ! $wine_server || WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  scripts/engines.sh stop "$state" >/dev/null 2>&1 || true
  rm -rf "$state"
}
trap cleanup EXIT
echo "== starting the test databases ($state)"
# The full run adds the scale-out (a primary, a hot standby, PgBouncer) and its fault tests.
scale=ON
$quick && scale=OFF
scripts/engines.sh start "$state" $([ $scale = ON ] && echo --scale)

echo "== building for Linux (build)"
cmake -S . -B build -DKELVORIN_WINDOWS_PROGRAM="$windows" \
  -DKELVORIN_TEST_ODBCINI="$state/odbc.ini" -DKELVORIN_TEST_SCALE=$scale >/dev/null
cmake --build build -j "$jobs"

# A private Wine prefix, made once: its first start takes a while, and tests
# started side by side must not race to create it.
export KELVORIN_WINEPREFIX=${KELVORIN_WINEPREFIX:-$root/build-win/wineprefix}
if ! $quick && [ ! -f "$KELVORIN_WINEPREFIX/system.reg" ]; then
  echo "== preparing the Wine prefix $KELVORIN_WINEPREFIX"
  cmake/wine-run.sh wineboot -i >/dev/null 2>&1 || true
fi
# One Wine server for all the runs. Debian's starts with -p0 and quits the
# moment its last program ends; a program that connects just then dies with
# "wine client error:0: recvmsg: Connection reset by peer" (about one start in
# 300 with two tests starting programs side by side).
if ! $quick; then
  WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -w  # the one wineboot started, if still there
  WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -p
  wine_server=true
fi

# Runs one build's tests; adds its counts to the totals.
passed=0 failed=0
run_ctest() {
  local out
  out=$(mktemp)
  (cd "$1" && ctest --output-on-failure --timeout 900 -j "$jobs") | tee "$out" || true
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1)
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  if [ -z "$line" ]; then total=1 bad=1; fi  # ctest itself failed
  passed=$((passed + total - bad)) failed=$((failed + bad))
  rm -f "$out"
}
echo "== tests of the Linux build"
run_ctest build
if $quick; then
  echo "kelvorin: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi
echo "== tests of the Windows build (under Wine)"
run_ctest build-win
echo "== the packages (scripts/package.sh), installed and run as an operator would"
# Into a file, not a pipe: Wine's helper processes may hold a pipe open.
package_out=$(mktemp)
{ scripts/package.sh && $sudo tests/package/test_package.sh build-pkg/dist ||
  echo "FAILED: the packages could not be made or tested"; } >"$package_out" 2>&1
cat "$package_out"
passed=$((passed + $(grep -c '^ok: ' "$package_out" || true)))
failed=$((failed + $(grep -c '^FAILED: ' "$package_out" || true)))
rm -f "$package_out"
echo "== the Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan)"
cmake -S . -B build-asan -DKELVORIN_SANITIZE=ON -DKELVORIN_TEST_ODBCINI="$state/odbc.ini" \
  -DKELVORIN_WINDOWS_PROGRAM= >/dev/null
cmake --build build-asan -j "$jobs"
# Any report ends the program with an error, which fails its test. Full stack
# unwinding lets the leak suppressions see the ODBC libraries' own frames.
# The fault tests preload a shim ahead of the sanitizer runtime. Instrumented
# runs are many times slower: 40 instances at once instead of 200.
ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1:verify_asan_link_order=0 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 KELVORIN_CONCURRENT_RUNS=40 \
  run_ctest build-asan

echo "== fuzzing each target for ${KELVORIN_FUZZ_SECONDS:-30} s"
fuzz_out=$(mktemp)
scripts/fuzz.sh "${KELVORIN_FUZZ_SECONDS:-30}" | tee "$fuzz_out" || true
passed=$((passed + $(grep -c 'no failure$' "$fuzz_out" || true)))
failed=$((failed + $(grep -c ': FAILED' "$fuzz_out" || true)))
rm -f "$fuzz_out"

echo "kelvorin: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
