#!/usr/bin/env bash
# Signs a setup program and the uninstaller it carries with an Authenticode
# signature (osslsigncode), after setup-pack build has made it; ./build.sh
# pack sign runs this. The key lies in files or on a hardware token (PKCS#11).
#   tools/sign_setup.sh IN.exe OUT.exe KEY [options]
# KEY, one of:
#   --cert CERT.pem --key KEY.pem      certificate and key files
#   --pkcs12 CERT.pfx                  a PKCS#12 file
#   --pkcs11-module MODULE.so --key URI (--cert CERT.pem | --pkcs11-cert URI)
#                      a key on a token or HSM: its vendor's PKCS#11 module and
#                      the key's PKCS#11 URI ("pkcs11:token=T;object=K;type=private");
#                      the certificate from a file or from the token
#   --pkcs11-engine ENGINE.so          the OpenSSL PKCS#11 engine, when it is not
#                      where OpenSSL looks (Debian: libengine-pkcs11-openssl)
# Options:
#   --pass-file FILE   the key's password or the token's PIN (first line); a
#                      token asks nothing else, so keep the PIN out of the URI
#   --name TEXT        description in the signature, shown by the UAC prompt, in
#                      ASCII (default: the package's AppName when it is ASCII)
#   --url URL          more-information link in the signature
#   --timestamp URL    RFC 3161 time-stamping server; keeps the signature valid
#                      after the certificate expires (warned about when left out)
#   --ca-file FILE     certificates osslsigncode verify trusts (default: the
#                      system's); needed for a private or test CA
# Environment: SETUP_SIGN_CERT, SETUP_SIGN_KEY, SETUP_SIGN_PKCS12,
# SETUP_SIGN_PKCS11_MODULE and SETUP_SIGN_PASS_FILE stand for the options of
# the same meaning. SETUP_PACK_RUNNER and SETUP_PACK_EXE name setup-pack (set
# by ./build.sh): with them the carried uninstaller (BIN 131) is taken out,
# signed with the same key and put back before setup.exe is signed, and both
# results are checked with osslsigncode verify and setup-pack verify.
# The signature is a certificate table appended after the sections; sign
# last: any later setup-pack build on the result drops it.
set -euo pipefail

usage() {
    sed -n '2,32p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
say() { echo "sign_setup.sh: $*" >&2; }

[ $# -ge 2 ] || usage
IN=$1
OUT=$2
shift 2
CERT=${SETUP_SIGN_CERT:-}
KEY=${SETUP_SIGN_KEY:-}
PKCS12=${SETUP_SIGN_PKCS12:-}
MODULE=${SETUP_SIGN_PKCS11_MODULE:-}
PASS_FILE=${SETUP_SIGN_PASS_FILE:-}
ENGINE=
TOKEN_CERT=
NAME=
URL=
TIMESTAMP=
CA_FILE=
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
    --cert) CERT=$2 ;;
    --key) KEY=$2 ;;
    --pkcs12) PKCS12=$2 ;;
    --pkcs11-module) MODULE=$2 ;;
    --pkcs11-engine) ENGINE=$2 ;;
    --pkcs11-cert) TOKEN_CERT=$2 ;;
    --pass-file) PASS_FILE=$2 ;;
    --name) NAME=$2 ;;
    --url) URL=$2 ;;
    --timestamp) TIMESTAMP=$2 ;;
    --ca-file) CA_FILE=$2 ;;
    *) usage ;;
    esac
    shift 2
done

if ! command -v osslsigncode >/dev/null 2>&1; then
    say "osslsigncode is not installed (apt-get install osslsigncode)"
    exit 1
fi
[ -f "$IN" ] || { say "no such program: $IN"; exit 1; }
[ "$(realpath -m "$IN")" != "$(realpath -m "$OUT")" ] || { say "OUT must differ from IN"; exit 1; }

KEY_ARGS=()
if [ -n "$MODULE" ]; then
    [ -n "$KEY" ] || { say "--pkcs11-module needs --key with the key's PKCS#11 URI"; exit 2; }
    [ -f "$MODULE" ] || { say "no such PKCS#11 module: $MODULE"; exit 1; }
    KEY_ARGS+=(-pkcs11module "$MODULE")
    [ -n "$ENGINE" ] && KEY_ARGS+=(-pkcs11engine "$ENGINE")
    if [ -n "$TOKEN_CERT" ]; then
        KEY_ARGS+=(-pkcs11cert "$TOKEN_CERT")
    elif [ -n "$CERT" ]; then
        KEY_ARGS+=(-certs "$CERT")
    else
        say "a token key needs its certificate: --cert FILE or --pkcs11-cert URI"
        exit 2
    fi
    KEY_ARGS+=(-key "$KEY")
elif [ -n "$PKCS12" ]; then
    KEY_ARGS+=(-pkcs12 "$PKCS12")
elif [ -n "$CERT" ] && [ -n "$KEY" ]; then
    KEY_ARGS+=(-certs "$CERT" -key "$KEY")
else
    say "give --cert and --key, --pkcs12, or --pkcs11-module with --key"
    exit 2
fi
[ -n "$PASS_FILE" ] && KEY_ARGS+=(-readpass "$PASS_FILE")

PACK=0
if [ -n "${SETUP_PACK_RUNNER:-}" ] && [ -n "${SETUP_PACK_EXE:-}" ]; then
    PACK=1
else
    say "warning: setup-pack is not named (SETUP_PACK_RUNNER, SETUP_PACK_EXE): the uninstaller" \
        "it carries stays unsigned and setup-pack verify does not run; use ./build.sh pack sign"
fi
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
pack() { # command, then paths
    local command=$1 args=() path
    shift
    for path in "$@"; do args+=("$(winpath "$path")"); done
    "$SETUP_PACK_RUNNER" "$SETUP_PACK_EXE" "$command" "${args[@]}"
}

# osslsigncode stores the description as an IA5String (ASCII); Windows shows
# other bytes there garbled.
is_ascii() { LC_ALL=C grep -q '^[[:print:]]*$' <<<"$1"; }
if [ -z "$NAME" ] && [ $PACK -eq 1 ]; then
    APP_NAME=$(pack inspect "$IN" 2>/dev/null | tr -d '\r' |
        sed -n 's/^config\.INFO\.AppName: //p' | head -1) || true
    if [ -n "$APP_NAME" ] && ! is_ascii "$APP_NAME"; then
        say "give --name in ASCII: the package's AppName $APP_NAME is not, and the UAC prompt" \
            "would show it garbled (the signature stores the description as ASCII)"
        exit 2
    fi
    NAME=$APP_NAME
fi
[ -n "$NAME" ] || { say "give --name: the description the UAC prompt shows"; exit 2; }
is_ascii "$NAME" || say "warning: --name is not ASCII; the UAC prompt may show it garbled"
if [ -z "$TIMESTAMP" ]; then
    say "warning: no --timestamp: the signature stops being valid when the certificate expires"
fi

SIGN_ARGS=(sign -h sha256 -n "$NAME" "${KEY_ARGS[@]}")
[ -n "$URL" ] && SIGN_ARGS+=(-i "$URL")
[ -n "$TIMESTAMP" ] && SIGN_ARGS+=(-ts "$TIMESTAMP")

# Work beside OUT; a failed run leaves no output and no half a file.
WORK=$(mktemp -d "$(dirname "$(realpath -m "$OUT")")/.signing.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# A failed signing ends the run at once: a token counts wrong PINs and locks
# itself after a few.
sign() { # in out
    if ! osslsigncode "${SIGN_ARGS[@]}" -in "$1" -out "$2" >"$WORK/sign.log" 2>&1; then
        cat "$WORK/sign.log" >&2
        say "signing $1 failed"
        exit 1
    fi
}
check() { # signed program: the signature verifies and covers the file
    local args=(verify -in "$1")
    [ -n "$CA_FILE" ] && args+=(-CAfile "$CA_FILE")
    if ! osslsigncode "${args[@]}" >"$WORK/verify.log" 2>&1 ||
        ! grep -q "Signature verification: ok" "$WORK/verify.log"; then
        cat "$WORK/verify.log" >&2
        say "osslsigncode verify refuses $2"
        exit 1
    fi
    echo "osslsigncode verify: ok: $2"
}

SOURCE=$IN
if [ $PACK -eq 1 ]; then
    pack take-uninstaller "$IN" "$WORK/uninstaller.exe" >/dev/null
    sign "$WORK/uninstaller.exe" "$WORK/uninstaller-signed.exe"
    check "$WORK/uninstaller-signed.exe" "the uninstaller"
    pack put-uninstaller "$IN" "$WORK/uninstaller-signed.exe" "$WORK/with-uninstaller.exe" >/dev/null
    SOURCE=$WORK/with-uninstaller.exe
fi
sign "$SOURCE" "$WORK/signed.exe"
check "$WORK/signed.exe" "$OUT"
if [ $PACK -eq 1 ] && ! pack verify "$WORK/signed.exe"; then
    say "setup-pack verify refuses the signed program"
    exit 1
fi
mv -f "$WORK/signed.exe" "$OUT"
echo "signed: $OUT"
