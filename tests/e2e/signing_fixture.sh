#!/usr/bin/env bash
# Test fixture for the signing tests: a throwaway self-signed code-signing
# certificate, and the sample setup program and the bare setup.exe signed
# with it through tools/sign_setup.sh, each checked with osslsigncode verify.
#   signing_fixture.sh BIN_DIR OUT_DIR SOURCE_DIR
# Exits 77 (shown by ctest as skipped) when openssl or osslsigncode is missing;
# the tests that need its files then skip themselves.
set -euo pipefail
BIN=$1
OUT=$2
ROOT=$3
for tool in openssl osslsigncode; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (build.sh installs it)"
        exit 77
    fi
done
rm -rf "$OUT"
mkdir -p "$OUT"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Setup test signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$OUT/key.pem" -out "$OUT/cert.pem" 2>"$OUT/openssl.log" ||
    { cat "$OUT/openssl.log"; exit 1; }
sign() { # in out
    "$ROOT/tools/sign_setup.sh" "$1" "$2" --cert "$OUT/cert.pem" --key "$OUT/key.pem" \
        --name "Setup test" --ca-file "$OUT/cert.pem"
    osslsigncode verify -CAfile "$OUT/cert.pem" -in "$2" >"$2.verify.log" 2>&1 ||
        { cat "$2.verify.log"; echo "osslsigncode verify failed on $2"; exit 1; }
    grep -q "Signature verification: ok" "$2.verify.log"
    echo "osslsigncode verify: ok: $2"
}
sign "$BIN/sample-setup.exe" "$OUT/signed-sample.exe"
sign "$BIN/setup.exe" "$OUT/signed-template.exe"
