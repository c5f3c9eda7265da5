#!/bin/sh
# Installs everything the build, the tests and the benchmark need on Debian 12, as root.
# Safe to run again: it only installs what is missing.
set -eu

packages="make cmake g++ git pkg-config ca-certificates file xxd
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev zlib1g-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  clang libclang-rt-14-dev
  wine wine32:i386 xvfb xdotool x11-apps imagemagick
  osslsigncode openssl zip time procps"

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (or install these yourself): $packages" >&2
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $missing
