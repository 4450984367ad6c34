#!/usr/bin/env bash
# Builds every package from a build of its own and puts them, with their
# SHA256SUMS, into build-pkg/dist:
#   kelvorin_<version>_amd64.deb    Debian (and its derivatives), 64-bit
#   kelvorin-<version>-win64.zip    Windows, 64-bit program (64-bit ODBC)
#   kelvorin-<version>-win32.zip    Windows, 32-bit program (32-bit ODBC)
# Then lintian reads the .deb: its errors fail the script.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-missing.sh cmake g++ dpkg-dev unixodbc-dev lintian \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
out=build-pkg/dist
rm -rf "$out"
mkdir -p "$out"

# Builds the programs with their tests left out and packs them.
package() {
  local dir=build-pkg/$1
  shift
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORIN_TESTS=OFF "$@" \
    >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
  cmake --build "$dir" -j "$(nproc)" >/dev/null
  rm -rf "$dir/packages"
  (cd "$dir" && cpack >/dev/null)
  cp "$dir"/packages/kelvorin[-_]* "$out"/
}

# Debian's hardening flags (stack protector, fortified calls, read-only
# relocations bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
package linux -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
package win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
package win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake

(cd "$out" && sha256sum kelvorin* >SHA256SUMS)
lintian --fail-on error "$out"/*.deb
ls -l "$out"
