# Sourced by tools/bench.sh and tools/bench_pack.sh (after tools/wine-env.sh):
# NSIS installers of the benchmark data (tools/bench_nsis.nsi), built by the
# native makensis and installed silently under the build's Wine prefix.
# The x86 stub goes with the 32-bit Wine; a host that cannot run 32-bit code
# gets the amd64 stub, beside the 64-bit twin of our program.
NSIS_SCRIPT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/bench_nsis.nsi"
if [ "$SETUP_WINE" = /usr/lib/wine/wine64 ]; then
    NSIS_STUB=amd64-unicode
    NSIS_TARGET=(-DAMD64)
else
    NSIS_STUB=x86-unicode
    NSIS_TARGET=()
fi

nsis_build() { # data folder (server, client, database) or a single file, output
    local what=-DDATA=$1
    [ -f "$1" ] && what=-DONE_FILE=$1
    makensis -V1 -NOCD "${NSIS_TARGET[@]}" "$what" "-DOUTFILE=$2" "$NSIS_SCRIPT" >/dev/null
}

# Installs into D:\<folder> (below the build's drive_d), prints the wall seconds.
nsis_install_once() { # build dir, installer, folder
    local start end
    rm -rf "${1:?}/drive_d/$3"
    start=$(date +%s.%N)
    "$SETUP_WINE" "$2" /S "/D=D:\\$3"
    end=$(date +%s.%N)
    [ -d "$1/drive_d/$3" ] || { echo "bench_nsis.sh: $2 installed nothing" >&2; return 1; }
    echo "$end - $start" | bc -l
}
