#!/usr/bin/env bash
# install-missing.sh PACKAGE...: installs those of the Debian packages named
# that are not installed yet (through sudo unless run as root); quiet when
# every one is there.
set -euo pipefail
missing=()
# A bare name is ambiguous to dpkg once the package is also installed for a
# second architecture (i386 for the 32-bit Wine): then ask for the native one.
native=$(dpkg --print-architecture)
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$native" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "== installing: ${missing[*]}"
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
# Scripts started side by side (a build and a benchmark, say) wait for each
# other's install instead of failing on apt's lock.
lock=(-o DPkg::Lock::Timeout=900)
for _ in $(seq 90); do $sudo apt-get "${lock[@]}" update -qq && break || sleep 10; done
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock[@]}" install -y -qq "${missing[@]}" >/dev/null
