#!/bin/sh
# Installs the host build into a fresh prefix, builds the consumer project against it, and
# checks the packages it made. Usage: consumer_test.sh HOST_BUILD_DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "$build/consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build"

kivpack=$work/prefix/bin/kivpack
"$kivpack" verify --quiet "$work/build/Setup.exe"
cmp "$work/build/Setup.exe" "$work/build/SetupWithStub.exe"
"$kivpack" extract --quiet "$work/build/Setup.exe" -o "$work/setup.bin" --parts "$work/parts"
cmp "$work/parts/program.exe" "$work/build/hello"
cmp "$work/parts/block1.bin" "$here/readme.txt"
cmp "$work/parts/block4.bin" "$work/build/generated.bin"
[ ! -e "$work/parts/block2.bin" ] || { echo "FAIL: an absent block was written" >&2; exit 1; }

# Signed as it would be for release: the signature fits the package's layout, which stays sound
# and extracts as before.
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=kivsetup-test -days 1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" \
    -in "$work/build/Setup.exe" -out "$work/Signed.exe" >/dev/null
  "$kivpack" verify --quiet "$work/Signed.exe"
  "$kivpack" inspect --json "$work/Signed.exe" | grep -q '"signed": true' ||
    { echo "FAIL: the signed package is not seen as signed" >&2; exit 1; }
  "$kivpack" extract --quiet "$work/Signed.exe" -o "$work/signed.bin"
  cmp "$work/setup.bin" "$work/signed.bin"
  osslsigncode verify -CAfile "$work/cert.pem" "$work/Signed.exe" >/dev/null ||
    { echo "FAIL: the signature does not verify" >&2; exit 1; }
else
  echo "consumer project: osslsigncode or openssl missing, signing not tried" >&2
fi

# Nothing changed: the package is not built again.
before=$(ls -l --time-style=+%s.%N "$work/build/Setup.exe")
cmake --build "$work/build" >/dev/null
[ "$before" = "$(ls -l --time-style=+%s.%N "$work/build/Setup.exe")" ] ||
  { echo "FAIL: an up-to-date package was built again" >&2; exit 1; }
echo "consumer project: packages built and verified"
