#!/usr/bin/env bash
# Builds the Windows program's core and its tests with the mingw-w64 cross
# compiler into build-windows/, installing what is missing first (as root;
# otherwise it prints the apt-get line and stops). Qt is not part of this
# build. The tests run under Wine: see scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only the posix thread model of mingw-w64 has std::thread and std::mutex.
VANTREL_WINDOWS_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest locales xvfb
  fonts-wqy-zenhei)

vantrel_windows_setup() {
  local p missing=()
  for p in "${VANTREL_WINDOWS_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "Missing packages; install them with:" >&2
      echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  # Wine takes its ANSI code page from the host's locale: the second test run
  # needs zh_CN.UTF-8 to exist, else Wine silently stays on 1252.
  if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "The locale zh_CN.UTF-8 is missing; as root: sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen && locale-gen" >&2
      exit 1
    fi
    sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  fi
}

vantrel_windows_setup
[ "${VANTREL_WINDOWS_SETUP_ONLY:-0}" = 1 ] && exit 0
cmake --preset windows >/dev/null
cmake --build --preset windows -j "${VANTREL_WINDOWS_JOBS:-2}"

# What a Windows user gets: both programs and a short readme in Chinese
# (UTF-8 with a byte-order mark and CRLF, as Notepad reads it), runnable
# unpacked from any folder (the programs are linked statically).
package=build-windows/Vantrel-windows-x64
rm -rf "$package" "$package.zip"
mkdir -p "$package"
cp build-windows/vantrel.exe build-windows/vantrel-headless.exe data/windows/readme.txt "$package/"
(cd build-windows && cmake -E tar cf Vantrel-windows-x64.zip --format=zip Vantrel-windows-x64)
rm -rf "$package"
