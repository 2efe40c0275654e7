# Sourced after tools/wine-env.sh: set_prefix_dpi DPI sets the DPI of this
# build's Wine prefix (LogPixels, what the display settings' scaling sets on
# Windows) and restarts the prefix's wineserver, since a running one keeps the
# old value; restore_prefix_dpi puts back what was there before the first
# change. Only this prefix's server is touched.
PREFIX_DPI_KEY='HKCU\Control Panel\Desktop'
PREFIX_DPI_SAVED=

# A running server keeps the old value, so it is ended; the new one is started
# persistent and warmed up, as build.sh leaves it for the tests: without that
# each later Wine process started and ended a server of its own, and a process
# started while one was going away failed now and then.
restart_prefix_server() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1 </dev/null || true
    "$SETUP_WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true
}

set_prefix_dpi() { # dpi
    if [ -z "$PREFIX_DPI_SAVED" ]; then
        PREFIX_DPI_SAVED=$("$SETUP_WINE" reg query "$PREFIX_DPI_KEY" /v LogPixels 2>/dev/null |
            tr -d '\r' | awk '$1 == "LogPixels" {print $3}' || true)
        PREFIX_DPI_SAVED=${PREFIX_DPI_SAVED:-none}
    fi
    "$SETUP_WINE" reg add "$PREFIX_DPI_KEY" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 ||
        return 1
    restart_prefix_server
}

restore_prefix_dpi() {
    [ -n "$PREFIX_DPI_SAVED" ] || return 0
    if [ "$PREFIX_DPI_SAVED" = none ]; then
        "$SETUP_WINE" reg delete "$PREFIX_DPI_KEY" /v LogPixels /f >/dev/null 2>&1 || true
    else
        "$SETUP_WINE" reg add "$PREFIX_DPI_KEY" /v LogPixels /t REG_DWORD \
            /d "$((PREFIX_DPI_SAVED))" /f >/dev/null 2>&1 || true
    fi
    PREFIX_DPI_SAVED=
    restart_prefix_server
}
