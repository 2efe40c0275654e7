#!/usr/bin/env bash
# Signs a setup program with an Authenticode signature (osslsigncode), after
# setup-pack build has made it; ./build.sh pack sign runs this.
#   tools/sign_setup.sh IN.exe OUT.exe --cert CERT.pem --key KEY.pem [options]
#   tools/sign_setup.sh IN.exe OUT.exe --pkcs12 CERT.pfx [options]
# Options:
#   --pass-file FILE   password of the key or PKCS#12 file (first line)
#   --name TEXT        description shown by Windows (default: the file name)
#   --url URL          more-information link in the signature
#   --timestamp URL    RFC 3161 time-stamping server (keeps the signature
#                      valid after the certificate expires; needs the network)
# Environment: SETUP_SIGN_CERT, SETUP_SIGN_KEY, SETUP_SIGN_PKCS12 and
# SETUP_SIGN_PASS_FILE stand for the options of the same meaning.
# The signature is a certificate table appended after the sections; the
# installer does not read it, so sign last: any later setup-pack build on the
# result drops it. On Windows, signtool sign /fd SHA256 does the same.
set -euo pipefail

usage() {
    sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

[ $# -ge 2 ] || usage
IN=$1
OUT=$2
shift 2
CERT=${SETUP_SIGN_CERT:-}
KEY=${SETUP_SIGN_KEY:-}
PKCS12=${SETUP_SIGN_PKCS12:-}
PASS_FILE=${SETUP_SIGN_PASS_FILE:-}
NAME=$(basename "$OUT" .exe)
URL=
TIMESTAMP=
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
    --cert) CERT=$2 ;;
    --key) KEY=$2 ;;
    --pkcs12) PKCS12=$2 ;;
    --pass-file) PASS_FILE=$2 ;;
    --name) NAME=$2 ;;
    --url) URL=$2 ;;
    --timestamp) TIMESTAMP=$2 ;;
    *) usage ;;
    esac
    shift 2
done

if ! command -v osslsigncode >/dev/null 2>&1; then
    echo "sign_setup.sh: osslsigncode is not installed (apt-get install osslsigncode)" >&2
    exit 1
fi
[ -f "$IN" ] || { echo "sign_setup.sh: no such program: $IN" >&2; exit 1; }
[ "$(realpath -m "$IN")" != "$(realpath -m "$OUT")" ] ||
    { echo "sign_setup.sh: OUT must differ from IN" >&2; exit 1; }

ARGS=(sign -h sha256 -n "$NAME")
if [ -n "$PKCS12" ]; then
    ARGS+=(-pkcs12 "$PKCS12")
elif [ -n "$CERT" ] && [ -n "$KEY" ]; then
    ARGS+=(-certs "$CERT" -key "$KEY")
else
    echo "sign_setup.sh: give --cert and --key, or --pkcs12" >&2
    exit 2
fi
[ -n "$PASS_FILE" ] && ARGS+=(-readpass "$PASS_FILE")
[ -n "$URL" ] && ARGS+=(-i "$URL")
[ -n "$TIMESTAMP" ] && ARGS+=(-ts "$TIMESTAMP")

# osslsigncode writes OUT itself; a failed run must not leave half a file.
TMP="$OUT.signing"
rm -f "$TMP"
if ! osslsigncode "${ARGS[@]}" -in "$IN" -out "$TMP" >"$TMP.log" 2>&1; then
    cat "$TMP.log" >&2
    rm -f "$TMP" "$TMP.log"
    echo "sign_setup.sh: signing failed" >&2
    exit 1
fi
rm -f "$TMP.log"
mv -f "$TMP" "$OUT"
echo "signed: $OUT"
