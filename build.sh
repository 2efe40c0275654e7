#!/usr/bin/env bash
# One entry point for building, testing and demonstrating the setup program.
#   ./build.sh [build]   install what is missing, build everything
#   ./build.sh test      build, then run every test under Wine (ctest)
#   ./build.sh demo      build the sample setup program and run it
#   ./build.sh bench     benchmarks
#   ./build.sh pack ...  run setup-pack with the given arguments
#   ./build.sh pack sign IN OUT KEY...   sign a setup program and its uninstaller
#                        (tools/sign_setup.sh: key files, PKCS#12 or a PKCS#11 token)
#   ./build.sh fuzz      fuzz the input parsers (bounded time)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
# SETUP_BUILD_ROOT puts the build trees (and their Wine prefixes) elsewhere;
# SETUP_SKIP_PRODUCT=1 skips the separate 32-bit product build;
# SETUP_SKIP_NATIVE=1 skips the native sanitizer tests.
BUILD_ROOT=${SETUP_BUILD_ROOT:-$ROOT/build}
COMMAND=${1:-build}
[ $# -gt 0 ] && shift

log() { printf '==> %s\n' "$*" >&2; }

APT_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev
    wine wine64 xvfb xauth fonts-wqy-microhei fonts-wine imagemagick x11-utils
    zip unzip ninja-build cmake bc clang libclang-rt-14-dev zlib1g-dev gcc-multilib
    osslsigncode openssl nsis softhsm2 libengine-pkcs11-openssl qemu-user-static)

# From fonts-wine: the font of the caption buttons (see add_caption_font).
CAPTION_FONT=/usr/share/wine/fonts/marlett.ttf

# shellcheck source=tools/host_setup.sh
. "$ROOT/tools/host_setup.sh"

install_packages() {
    local missing=0
    for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix /usr/lib/wine/wine64 \
        Xvfb xauth import xwininfo zip unzip ninja cmake bc clang++ osslsigncode openssl \
        softhsm2-util qemu-i386-static; do
        command -v "$tool" >/dev/null 2>&1 || missing=1
    done
    [ -f /usr/i686-w64-mingw32/lib/libz.a ] || missing=1
    [ -f /usr/x86_64-w64-mingw32/lib/libz.a ] || missing=1
    [ -d /usr/share/fonts/truetype/wqy ] || missing=1
    [ -f "$CAPTION_FONT" ] || missing=1
    [ -f /usr/include/zlib.h ] || missing=1
    # Signing with a key on a token (the SoftHSM2 test token stands in for one).
    compgen -G '/usr/lib/*/engines-3/pkcs11.so' >/dev/null || missing=1
    # 32-bit C files: the disk-full simulation is preloaded into 32-bit Wine.
    [ -f /usr/lib32/crti.o ] || missing=1
    compgen -G '/usr/lib/gcc/x86_64-linux-gnu/*/32/crtbegin.o' >/dev/null || missing=1
    compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
        missing=1
    [ -z "$(host_missing_packages "${APT_PACKAGES[@]}")" ] || missing=1
    [ $missing -eq 0 ] && return 0
    log "installing build and test packages (apt's output: $BUILD_ROOT/apt.log)"
    install_build_packages "$BUILD_ROOT/apt.log" "${APT_PACKAGES[@]}" || exit 1
}

use_wine_env() { # build dir
    SETUP_BUILD_DIR=$1
    # shellcheck source=tools/wine-env.sh
    . "$ROOT/tools/wine-env.sh"
}

# Wine draws the caption buttons with Marlett (without it they read "0 1 r");
# this Wine does not read Debian's copy from its own data folder, only fonts in
# the prefix's Fonts folder.
add_caption_font() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -f "$CAPTION_FONT" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
        cp "$CAPTION_FONT" "$fonts/"
    fi
}

prepare_wine() { # build dir
    local dir=$1
    mkdir -p "$dir"
    if [ ! -f "$dir/locale/zh_CN.UTF-8/LC_CTYPE" ]; then
        mkdir -p "$dir/locale"
        localedef -i zh_CN -f UTF-8 "$dir/locale/zh_CN.UTF-8" 2>/dev/null || true
    fi
    use_wine_env "$dir"
    if [ -f "$WINEPREFIX/.setup-ready" ]; then
        add_caption_font
        return 0
    fi
    log "creating the Wine prefix in $WINEPREFIX"
    rm -rf "$WINEPREFIX" "$HOME"
    mkdir -p "$HOME" "$dir/drive_d"
    "$SETUP_WINE" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    # Windows draw their own captions: without a window manager every closing
    # top-level window otherwise costs Wine about two seconds.
    "$SETUP_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w || true
    # A fixed drive D: of our own, so nothing is ever installed into Z:\.
    ln -sfn "$dir/drive_d" "$WINEPREFIX/dosdevices/d:"
    wineserver -k || true
    add_caption_font
    touch "$WINEPREFIX/.setup-ready"
}

configure_build() { # arch [cmake args...]
    local arch=$1
    shift
    local dir="$BUILD_ROOT/$arch"
    prepare_wine "$dir"
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

build_all() {
    install_packages
    choose_test_build "$BUILD_ROOT"
    TEST_DIR="$BUILD_ROOT/$TEST_ARCH"
    log "building ($TEST_ARCH runs the tests)"
    configure_build "$TEST_ARCH" -DSETUP_BUILD_TESTS=ON
    if [ "$TEST_ARCH" != i686 ] && [ "${SETUP_SKIP_PRODUCT:-0}" != 1 ]; then
        log "building the 32-bit product (setup.exe)"
        configure_build i686 -DSETUP_BUILD_TESTS=OFF \
            -DSETUP_HOST_PACK="$TEST_DIR/bin/setup-pack.exe" \
            -DSETUP_HOST_PACK_RUNNER="$TEST_DIR/wine-run.sh"
    fi
    use_wine_env "$TEST_DIR"
}

XVFB_PID=
start_display() {
    if [ -n "${DISPLAY:-}" ] && LC_ALL=C xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    # shellcheck source=tools/xvfb.sh
    . "$ROOT/tools/xvfb.sh"
    start_xvfb || { echo "build.sh: cannot start Xvfb" >&2; exit 1; }
}

stop_wine_and_display() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}

warm_wine() {
    # The first Wine process starts helpers that would inherit ctest's
    # output pipe; start them here, detached from it.
    wineserver -p >/dev/null 2>&1 || true
    "$SETUP_WINE" cmd /c exit >/dev/null 2>&1 || true
}

# The code that needs no window, built natively with AddressSanitizer and
# UndefinedBehaviorSanitizer, and its unit tests.
run_native_tests() {
    local dir="$BUILD_ROOT/native"
    log "native sanitizer tests"
    cmake -S "$ROOT/native" -B "$dir" -G Ninja >/dev/null &&
        cmake --build "$dir" -j "$(nproc)" &&
        ctest --test-dir "$dir" --output-on-failure --timeout 120 -j "$(nproc)"
}

run_tests() {
    build_all
    start_display
    trap stop_wine_and_display EXIT
    warm_wine
    log "running tests"
    local status=0
    if [ "${SETUP_SKIP_NATIVE:-0}" != 1 ]; then
        run_native_tests || status=1
    fi
    if [ -f "$BUILD_ROOT/i686/bin/setup.exe" ]; then
        LC_ALL=C "$ROOT/tools/check_product.sh" "$BUILD_ROOT/i686/bin/setup.exe" || status=1
    fi
    ctest --test-dir "$TEST_DIR" --output-on-failure --timeout 600 "$@" || status=$?
    test_build_summary
    return $status
}

case "$COMMAND" in
build) build_all ;;
test) run_tests "$@" ;;
demo)
    build_all
    exec "$ROOT/tools/demo.sh" "$TEST_DIR" "$@"
    ;;
bench)
    build_all
    exec "$ROOT/tools/bench.sh" "$TEST_DIR" "$@"
    ;;
pack)
    if [ "${1:-}" = sign ]; then
        # Signing is the last step of a release (tools/sign_setup.sh): the
        # carried uninstaller is signed and put back through setup-pack, and
        # both signed programs must pass osslsigncode's and setup-pack's checks.
        shift
        [ $# -ge 2 ] || exec "$ROOT/tools/sign_setup.sh"
        build_all >&2
        export SETUP_PACK_RUNNER="$TEST_DIR/wine-run.sh"
        export SETUP_PACK_EXE="$TEST_DIR/bin/setup-pack.exe"
        exec "$ROOT/tools/sign_setup.sh" "$@"
    fi
    build_all >&2
    # Setup programs are made from the 32-bit product, whichever build runs
    # the tool, unless the caller names a template.
    PRODUCT="$BUILD_ROOT/i686/bin/setup.exe"
    if [ "${1:-}" = build ] && [ -f "$PRODUCT" ] && [[ " $* " != *" --template "* ]]; then
        set -- "$@" --template "Z:${PRODUCT//\//\\}"
    fi
    exec "$TEST_DIR/wine-run.sh" "$TEST_DIR/bin/setup-pack.exe" "$@"
    ;;
fuzz)
    install_packages
    exec "$ROOT/tools/fuzz.sh" "$@"
    ;;
*)
    sed -n '2,11p' "$0" >&2
    exit 2
    ;;
esac
