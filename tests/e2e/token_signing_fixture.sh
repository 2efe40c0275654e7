#!/usr/bin/env bash
# Test fixture for a release signed with a key on a hardware token: a SoftHSM2
# token of its own in the build tree (SOFTHSM2_CONF points at a configuration
# here, never at the system's) holding a code-signing key, and the sample setup
# program signed with it through ./build.sh pack sign, which signs the
# uninstaller it carries too. Both signatures are then checked with
# osslsigncode verify against the token's certificate, and a copy is signed
# with a time stamp from osslsigncode's built-in time-stamping authority.
#   token_signing_fixture.sh BUILD_DIR OUT_DIR SOURCE_DIR
# Exits 77 (shown by ctest as skipped) when SoftHSM2, the OpenSSL PKCS#11
# engine, openssl or osslsigncode is missing; the tests that need its files
# then skip themselves.
set -euo pipefail
BUILD=$1
OUT=$2
ROOT=$3
MODULE=/usr/lib/softhsm/libsofthsm2.so
skip() {
    echo "skipped: $1 (build.sh installs it)"
    exit 77
}
for tool in openssl osslsigncode softhsm2-util; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ -f "$MODULE" ] || skip "the SoftHSM2 module $MODULE is missing"
compgen -G '/usr/lib/*/engines-3/pkcs11.so' >/dev/null ||
    skip "the OpenSSL PKCS#11 engine (libengine-pkcs11-openssl) is missing"

rm -rf "$OUT"
mkdir -p "$OUT/tokens"
cd "$OUT"
cat >softhsm2.conf <<EOF
directories.tokendir = $OUT/tokens
objectstore.backend = file
log.level = ERROR
EOF
export SOFTHSM2_CONF="$OUT/softhsm2.conf"
run() { # quiet unless it fails
    "$@" >command.log 2>&1 || { cat command.log; echo "failed: $*"; exit 1; }
}

# The key is made outside and imported (SoftHSM2's tool cannot generate one);
# afterwards it exists only on the token.
run openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Setup token signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout key.pem -out cert.pem
run openssl pkcs8 -topk8 -nocrypt -in key.pem -out key8.pem
run softhsm2-util --init-token --free --label setup-release --pin 4321 --so-pin 87654321
run softhsm2-util --import key8.pem --token setup-release --label codesign --id 01 --pin 4321
rm -f key.pem key8.pem
echo 4321 >pin.txt
KEY_URI="pkcs11:token=setup-release;object=codesign;type=private"

SETUP_BUILD_ROOT=$(dirname "$BUILD") SETUP_SKIP_PRODUCT=1 SETUP_SKIP_NATIVE=1 \
    "$ROOT/build.sh" pack sign "$BUILD/bin/sample-setup.exe" "$OUT/signed-setup.exe" \
    --pkcs11-module "$MODULE" --key "$KEY_URI" --cert cert.pem --pass-file pin.txt \
    --name "Setup token test" --url "https://example.invalid/setup" --ca-file cert.pem \
    >sign.log 2>&1 || { cat sign.log; echo "./build.sh pack sign failed"; exit 1; }
cat sign.log

verify() { # program, what
    osslsigncode verify -CAfile cert.pem -in "$1" >verify.log 2>&1 &&
        grep -q "Signature verification: ok" verify.log ||
        { cat verify.log; echo "osslsigncode verify failed on $2"; exit 1; }
    grep -q "Subject: /CN=Setup token signer" verify.log ||
        { cat verify.log; echo "$2 is not signed by the token's certificate"; exit 1; }
    echo "osslsigncode verify: ok, signed by the token's certificate: $2"
}
verify signed-setup.exe "setup.exe"
winpath() { echo "Z:${1//\//\\}"; }
run "$BUILD/wine-run.sh" "$BUILD/bin/setup-pack.exe" take-uninstaller \
    "$(winpath "$OUT/signed-setup.exe")" "$(winpath "$OUT/carried-uninstaller.exe")"
verify carried-uninstaller.exe "the uninstaller it carries"

# A time stamp without a network: osslsigncode's own time-stamping authority.
run openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Setup test TSA" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=critical,timeStamping" \
    -keyout tsa-key.pem -out tsa-cert.pem
STAMP=$(($(date +%s) - 60))
run osslsigncode sign -h sha256 -n "Setup token test" -pkcs11module "$MODULE" -certs cert.pem \
    -key "$KEY_URI" -readpass pin.txt -TSA-certs tsa-cert.pem -TSA-key tsa-key.pem \
    -TSA-time "$STAMP" -in "$BUILD/bin/sample-setup.exe" -out timestamped-setup.exe
date -u -d "@$STAMP" '+%Y-%m-%d %H:%M:%S UTC (RFC 3161)' >expected-timestamp.txt
echo "time-stamped copy: $(cat expected-timestamp.txt)"
