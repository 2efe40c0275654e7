#!/usr/bin/env bash
# Shows the sample setup program. With a usable display the wizard is simply
# run for the user; without one, an Xvfb screen is started, the wizard is
# driven through every page, each page is saved as a PNG in <build>/demo/,
# and what the installation left behind is printed. The wizard is then run
# again with the Wine prefix at 144 and 192 DPI (150 and 200 percent), its
# pages saved in <build>/demo/144dpi/ and 192dpi/; the prefix is put back.
#   tools/demo.sh <build dir>
set -euo pipefail
BUILD_DIR=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SETUP_BUILD_DIR=$BUILD_DIR
# shellcheck source=tools/wine-env.sh
. "$ROOT/tools/wine-env.sh" 2>/dev/null
# shellcheck source=tools/wine-dpi.sh
. "$ROOT/tools/wine-dpi.sh"
SAMPLE="$BUILD_DIR/bin/sample-setup.exe"
DRIVER="$BUILD_DIR/bin/wizard-driver.exe"
SHOTS="$BUILD_DIR/demo"
DRIVE_D="$BUILD_DIR/drive_d"
INSTALLED="$DRIVE_D/澜枢软件"
SERVICES=("VTR NetWork Mysql" "VTR Personal Mysql")

if [ -n "${DISPLAY:-}" ] && LC_ALL=C xdpyinfo >/dev/null 2>&1; then
    "$SETUP_WINE" "$SAMPLE"
    echo "sample-setup.exe exited with $?"
    exit 0
fi

XVFB_PID=
cleanup() {
    for service in "${SERVICES[@]}"; do
        "$SETUP_WINE" sc stop "$service" >/dev/null 2>&1 || true
        "$SETUP_WINE" sc delete "$service" >/dev/null 2>&1 || true
    done
    restore_prefix_dpi
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT

# shellcheck source=tools/xvfb.sh
. "$ROOT/tools/xvfb.sh"
start_xvfb || true
[ -n "$XVFB_PID" ] || { echo "demo.sh: cannot start Xvfb" >&2; exit 1; }

rm -rf "$SHOTS" "$INSTALLED"
mkdir -p "$SHOTS"
WORK="$BUILD_DIR/demo-run"
rm -rf "$WORK" && mkdir -p "$WORK"
wineserver -p >/dev/null 2>&1 || true
"$SETUP_WINE" cmd /c exit >/dev/null 2>&1 || true

# A driver prints "SHOT <name> [x y width height]" and waits for a line; the
# picture is taken here, of the screen around the frame (given in pixels), so
# message boxes are in it too. Every other line it prints is shown, converted
# from GBK. Pictures go to SHOT_DIR. Returns the driver's exit code.
SHOT_DIR=$SHOTS
run_driver() { # driver program and its arguments
    local line crop
    coproc DRIVER_PROC { "$SETUP_WINE" "$@" 2>/dev/null; }
    local pid=$DRIVER_PROC_PID
    while IFS= read -r line <&"${DRIVER_PROC[0]}"; do
        line=${line%$'\r'}
        if [[ $line == SHOT\ * ]]; then
            read -r _ name x y w h <<<"$line"
            crop=520x420+252+174
            # 16 pixels of the screen around the frame, within the screen.
            [ -n "${h:-}" ] && crop=$((w + 32))x$((h + 32))+$((x > 16 ? x - 16 : 0))+$((y > 16 ? y - 16 : 0))
            sleep 0.5
            LC_ALL=C import -window root -crop "$crop" +repage "$SHOT_DIR/$name.png" ||
                LC_ALL=C import -window root "$SHOT_DIR/$name.png"
            echo go >&"${DRIVER_PROC[1]}"
        else
            printf '  %s\n' "$(printf '%s' "$line" | iconv -f GBK -t UTF-8 2>/dev/null || printf '%s' "$line")"
        fi
    done
    wait "$pid"
}

WORK_WIN="Z:${WORK//\//\\}"
status=0
run_driver "$DRIVER" "$SAMPLE" "$WORK_WIN" || status=$?

echo
echo "Screenshots in $SHOTS:"
ls -1 "$SHOTS" | sed 's/^/  /'
echo
echo "Installed tree ($INSTALLED):"
(cd "$DRIVE_D" && find "澜枢软件" | LC_ALL=C sort | sed 's/^/  /') 2>/dev/null || echo "  (nothing)"
echo
echo "Shortcuts:"
find "$WINEPREFIX/drive_c" -name '*.lnk' -newer "$SHOTS/1-welcome.png" 2>/dev/null | sed "s|$WINEPREFIX/||; s/^/  /" || true
echo
echo "Services:"
"$SETUP_WINE" net start 2>/dev/null | iconv -f GBK -t UTF-8 2>/dev/null | grep -i 'VTR' | sed 's/^/  /' || echo "  (none running)"
echo
echo "Set-up runs' records:"
for record in "$WORK/setup-runs.log" "$WORK/errlog.log"; do
    if [ -f "$record" ]; then
        echo "  $(basename "$record"):"
        iconv -f GBK -t UTF-8 "$record" 2>/dev/null | sed 's/^/    /' || sed 's/^/    /' "$record"
    fi
done
find "$DRIVE_D/澜枢软件" -name 'setup-runs.log' 2>/dev/null | while read -r record; do
    echo "  $record:"
    sed 's/^/    /' "$record"
done

# The uninstaller: the Programs and Features entry, its question (answered
# No, after its picture), then the silent uninstall and what it left.
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
echo
echo "Programs and Features entry:"
"$SETUP_WINE" reg query "$UNINSTALL_KEY" /s 2>/dev/null | iconv -f GBK -t UTF-8 2>/dev/null |
    tr -d '\r' | awk '/^HKEY/ {show = index($0, "MDPX ") > 0} show && NF {print "  " $0}' ||
    echo "  (none)"
UNINSTALLER='D:\澜枢软件\MDPX-Uninstall.exe'
if [ -f "$INSTALLED/MDPX-Uninstall.exe" ]; then
    echo
    echo "Uninstaller, run by hand (answered No):"
    run_driver "$BUILD_DIR/bin/uninstall-driver.exe" "$UNINSTALLER" || status=$?
    echo
    echo "Silent uninstall (\"$UNINSTALLER\" /S):"
    code=0
    "$SETUP_WINE" "$UNINSTALLER" /S || code=$?
    for _ in $(seq 50); do [ -e "$INSTALLED/MDPX-Uninstall.exe" ] || break; sleep 0.1; done
    echo "  exit code $code"
    [ "$code" = 0 ] || status=1
    echo "  left in the install folder (files made after the installation are kept):"
    (cd "$DRIVE_D" && find "澜枢软件" | LC_ALL=C sort | sed 's/^/    /') 2>/dev/null || echo "    (nothing: the folder is gone)"
    echo "  entry: $("$SETUP_WINE" reg query "$UNINSTALL_KEY" /s 2>/dev/null | grep -c 'MDPX ' || true) left"
    echo "  links: $(find "$WINEPREFIX/drive_c" -name '*.lnk' -newer "$SHOTS/1-welcome.png" 2>/dev/null | wc -l) left"
    echo "  services: $("$SETUP_WINE" net start 2>/dev/null | grep -ci 'VTR' || true) running"
fi

# The same pages at 150 and 200 percent: the program says it is DPI-aware, so
# Windows lets it draw at the screen's DPI, as Wine draws at the prefix's.
for dpi in 144 192; do
    echo
    echo "The wizard at $dpi DPI (pictures in $SHOTS/${dpi}dpi):"
    set_prefix_dpi "$dpi"
    "$SETUP_WINE" cmd /c exit >/dev/null 2>&1 || true
    SHOT_DIR="$SHOTS/${dpi}dpi"
    mkdir -p "$SHOT_DIR"
    run_driver "$DRIVER" "$SAMPLE" "$WORK_WIN" >/dev/null || status=$?
    ls -1 "$SHOT_DIR" | sed 's/^/  /'
    # What this run installed goes again.
    if [ -f "$INSTALLED/MDPX-Uninstall.exe" ]; then
        "$SETUP_WINE" "$UNINSTALLER" /S || true
        for _ in $(seq 50); do [ -e "$INSTALLED/MDPX-Uninstall.exe" ] || break; sleep 0.1; done
    fi
done
restore_prefix_dpi
exit $status
