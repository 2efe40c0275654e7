# Sourced with SETUP_BUILD_DIR (or $1) naming the build folder: the Wine environment the project's
# tests, tools and demo run in. Each build folder has a prefix of its own.
SETUP_BUILD_DIR=${SETUP_BUILD_DIR:-$1}
export WINEPREFIX="$SETUP_BUILD_DIR/wineprefix"
export WINEDEBUG=-all
# Without this, creating shortcuts also writes .desktop files into $HOME.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
# An empty home of our own: the prefix gets real user folders, not links.
export HOME="$SETUP_BUILD_DIR/winehome"
# Code page 936; Chinese file names also need the glibc locale to exist.
export LOCPATH="$SETUP_BUILD_DIR/locale"
{ export LC_ALL=zh_CN.UTF-8; } 2>/dev/null
unset LANGUAGE
# Hosts whose kernel cannot run 32-bit code cannot start wine32; the 64-bit
# loader then runs the 64-bit twin of the programs.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    SETUP_WINE=/usr/lib/wine/wine
else
    SETUP_WINE=/usr/lib/wine/wine64
    export WINELOADER=/usr/lib/wine/wine64
fi
export SETUP_WINE
