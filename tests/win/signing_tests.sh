#!/usr/bin/env bash
# tools/release --sign: with a throw-away certificate made here, both
# modules, both consoles and both packages carry a signature that
# osslsigncode verifies against that certificate. The timestamp server is
# one that is not there (a closed port on this machine): its failure is
# told, does not hold the release up, and the files are signed all the same.
#   signing_tests.sh BUILD WORKDIR
set -uo pipefail
build=$(realpath "$1") work=$(realpath -m "$2")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$(dirname "${BASH_SOURCE[0]}")/expect.sh"
rm -rf "$work"
mkdir -p "$work"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillomat test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throwaway \
    -out "$work/signer.pfx" >/dev/null 2>&1 || { echo "FAIL  openssl made no certificate"; exit 1; }

started=$(date +%s)
expect_output "tools/release --sign signer.pfx" 0 "without a timestamp (http://127.0.0.1:9/ did not answer)" \
  env QUILL_BUILD="$build" QUILL_SIGN_PASSWORD=throwaway QUILL_TIMESTAMP_URL=http://127.0.0.1:9/ \
  "$root/tools/release" --sign "$work/signer.pfx" "$work/release/Quillomat"
took=$(($(date +%s) - started))
if [ $took -le 120 ]; then echo "ok    an absent timestamp server costs little ($took s for the whole release)"
else echo "FAIL  the release took $took s with no timestamp server"; failures=$((failures + 1)); fi

for file in Quillomat/Quillomat.dll Quillomat/Quillomat64.dll Quillomat/quill-console.exe \
            Quillomat/quill-console64.exe $(cd "$work/release" && ls Quillomat-*.msi); do
  expect_output "osslsigncode verify $file" 0 "Signature verification: ok" \
    osslsigncode verify -CAfile "$work/cert.pem" -in "$work/release/$file"
  grep -qF "Quillomat test signer" <<<"$output" ||
    { echo "FAIL  $file is not signed by the test's certificate"; failures=$((failures + 1)); }
done

# A wrong password signs nothing and says why.
expect_output "a wrong password stops the release" 1 "release: cannot sign" \
  env QUILL_BUILD="$build" QUILL_SIGN_PASSWORD=wrong QUILL_TIMESTAMP_URL=http://127.0.0.1:9/ \
  "$root/tools/release" --sign "$work/signer.pfx" "$work/wrong/Quillomat"

exit $((failures > 0))
