#!/usr/bin/env bash
# Installs what is missing, builds the Linux and the Windows program, and runs
# every test: unit tests of both builds (the Windows ones under Wine) and the
# end-to-end tests of both programs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake g++ libgtest-dev g++-mingw-w64-x86-64-posix wine wine64 unixodbc-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
echo "== building for Windows (build-win)"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j "$jobs"

echo "== building for Linux (build)"
cmake -S . -B build -DKELVORIN_WINDOWS_PROGRAM="$root/build-win/kelvorin.exe" >/dev/null
cmake --build build -j "$jobs"

# A private Wine prefix, made once: its first start takes a while, and tests
# started side by side must not race to create it.
export KELVORIN_WINEPREFIX=${KELVORIN_WINEPREFIX:-$root/build-win/wineprefix}
if [ ! -f "$KELVORIN_WINEPREFIX/system.reg" ]; then
  echo "== preparing the Wine prefix $KELVORIN_WINEPREFIX"
  cmake/wine-run.sh wineboot -i >/dev/null 2>&1 || true
fi

status=0
echo "== tests of the Linux build"
(cd build && ctest --output-on-failure --timeout 900) || status=1
echo "== tests of the Windows build (under Wine)"
(cd build-win && ctest --output-on-failure --timeout 900) || status=1
exit $status
