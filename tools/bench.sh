#!/usr/bin/env bash
# Benchmarks, run by ./build.sh bench with the test build's folder:
#   installation by the worker against an NSIS installer of the same files
#   (tools/bench_nsis.sh), against the floor (every entry inflated in memory
#   on one core, nothing written) and against native unzip; start-up's digest
#   check of the same package against the installation; the many-files
#   package; the silent uninstall; then the package builders.
# Medians over RUNS runs (default 5), printed as "key: value" lines. The
# many-files package (8,000 files of about 1 KB) runs MANY_RUNS times (default 3).
set -euo pipefail
BUILD_DIR=$1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${RUNS:-5}
SETUP_BUILD_DIR=$BUILD_DIR
. "$ROOT/tools/wine-env.sh"
BENCH="$BUILD_DIR/bench"
mkdir -p "$BENCH"

winpath() { echo "Z:${1//\//\\}"; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
now() { date +%s.%N; }

# The generated package-shaped tree (deterministic).
if [ ! -x "$BENCH/make_bench_data" ] || [ "$ROOT/tools/bench_data/make_bench_data.cpp" -nt "$BENCH/make_bench_data" ]; then
    g++ -O2 -std=c++17 -o "$BENCH/make_bench_data" "$ROOT/tools/bench_data/make_bench_data.cpp"
fi
if [ ! -f "$BENCH/data/.complete" ]; then
    rm -rf "$BENCH/data"
    "$BENCH/make_bench_data" "$BENCH/data" >/dev/null
    touch "$BENCH/data/.complete"
fi
rm -f "$BENCH/data/.complete.tmp"
if [ ! -f "$BENCH/many/.complete" ] || [ "$BENCH/make_bench_data" -nt "$BENCH/many/.complete" ]; then
    rm -rf "$BENCH/many"
    "$BENCH/make_bench_data" "$BENCH/many" many >/dev/null
    touch "$BENCH/many/.complete"
fi

wineserver -p >/dev/null 2>&1 || true
"$SETUP_WINE" cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
. "$ROOT/tools/bench_nsis.sh"

pack() { # data dir, server program, client program, output
    "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/bin/setup-pack.exe" build \
        --config "$(winpath "$ROOT/sample/setup.ini")" \
        --server "$(winpath "$1/server")" --client "$(winpath "$1/client")" \
        --database "$(winpath "$1/database")" --server-program "$2" --client-program "$3" \
        --no-server-run --no-client-run -o "$(winpath "$4")" >/dev/null
}
SETUP="$BENCH/bench-setup.exe"
pack "$BENCH/data" "$(cd "$BENCH/data/server" && ls | head -1)" \
    "$(cd "$BENCH/data/client" && ls | head -1)" "$SETUP"
MANY_SETUP="$BENCH/bench-many-setup.exe"
pack "$BENCH/many" 'd0\program.exe' 'd0\program.exe' "$MANY_SETUP"

# NSIS installers of the same trees, and of one small file: its time (start-up
# and exit of an installer) is taken off the others'.
head -c 1024 "$BENCH/make_bench_data" >"$BENCH/one-file.bin"
NSIS_SETUP="$BENCH/nsis-setup.exe"
NSIS_MANY_SETUP="$BENCH/nsis-many-setup.exe"
NSIS_ONE_SETUP="$BENCH/nsis-one-setup.exe"
nsis_build "$BENCH/data" "$NSIS_SETUP"
nsis_build "$BENCH/many" "$NSIS_MANY_SETUP"
nsis_build "$BENCH/one-file.bin" "$NSIS_ONE_SETUP"

install_once() { # mode [setup program] -> prints seconds and peak
    local target="$BUILD_DIR/drive_d/bench-install"
    rm -rf "$target" "$BENCH/work"
    "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/bin/bench-install.exe" "$1" "$(winpath "${2:-$SETUP}")" \
        'D:\bench-install\' "$(winpath "$BENCH/work")\\"
}

: >"$BENCH/install.txt"
: >"$BENCH/floor.txt"
: >"$BENCH/check.txt"
: >"$BENCH/unzip.txt"
: >"$BENCH/nsis.txt"
: >"$BENCH/nsis_one.txt"
(cd "$BENCH/data" && rm -f ../data.zip && zip -q -r ../data.zip server client database)
for _ in $(seq "$RUNS"); do
    install_once worker >>"$BENCH/install.txt"
    install_once floor >>"$BENCH/floor.txt"
    install_once check >>"$BENCH/check.txt"
    nsis_install_once "$BUILD_DIR" "$NSIS_SETUP" bench-nsis >>"$BENCH/nsis.txt"
    nsis_install_once "$BUILD_DIR" "$NSIS_ONE_SETUP" bench-nsis >>"$BENCH/nsis_one.txt"
    rm -rf "$BENCH/unzipped"
    start=$(now)
    unzip -q -o "$BENCH/data.zip" -d "$BENCH/unzipped"
    echo "seconds: $(echo "$(now) - $start" | bc -l)" >>"$BENCH/unzip.txt"
done
: >"$BENCH/many_install.txt"
: >"$BENCH/many_floor.txt"
: >"$BENCH/many_nsis.txt"
: >"$BENCH/many_nsis_one.txt"
for _ in $(seq "${MANY_RUNS:-3}"); do
    install_once worker "$MANY_SETUP" >>"$BENCH/many_install.txt"
    install_once floor "$MANY_SETUP" >>"$BENCH/many_floor.txt"
    nsis_install_once "$BUILD_DIR" "$NSIS_MANY_SETUP" bench-nsis >>"$BENCH/many_nsis.txt"
    nsis_install_once "$BUILD_DIR" "$NSIS_ONE_SETUP" bench-nsis >>"$BENCH/many_nsis_one.txt"
done
rm -rf "$BUILD_DIR/drive_d/bench-install" "$BUILD_DIR/drive_d/bench-nsis" "$BENCH/unzipped"

pick() { tr -d "\r" <"$2" | grep "^$1:" | awk '{print $2}' | median; }
walls() { median <"$1"; }
install_s=$(pick seconds "$BENCH/install.txt")
floor_s=$(pick seconds "$BENCH/floor.txt")
unzip_s=$(pick seconds "$BENCH/unzip.txt")
bytes=$(pick bytes "$BENCH/install.txt")
peak=$(pick peak_mb "$BENCH/install.txt")
check_s=$(pick seconds "$BENCH/check.txt")
nsis_wall_s=$(walls "$BENCH/nsis.txt")
nsis_one_s=$(walls "$BENCH/nsis_one.txt")
nsis_s=$(echo "$nsis_wall_s - $nsis_one_s" | bc -l)
echo "load_average: $(cut -d' ' -f1 /proc/loadavg)"
echo "install_seconds: $install_s"
echo "nsis_stub: $NSIS_STUB"
echo "nsis_wall_seconds: $(printf '%.4f' "$nsis_wall_s")"
echo "nsis_one_file_seconds: $(printf '%.4f' "$nsis_one_s")"
echo "nsis_install_seconds: $(printf '%.4f' "$nsis_s")"
echo "install_vs_nsis_ratio: $(echo "scale=3; $install_s / $nsis_s" | bc -l)"
echo "floor_seconds: $floor_s"
echo "install_vs_floor_ratio: $(echo "scale=3; $install_s / $floor_s" | bc -l)"
echo "unzip_seconds: $(printf '%.4f' "$unzip_s")"
echo "install_vs_unzip_ratio: $(echo "scale=3; $install_s / $unzip_s" | bc -l)"
echo "install_mb_per_s: $(echo "scale=1; $bytes / 1048576 / $install_s" | bc -l)"
echo "install_peak_mb: $peak"
echo "startup_check_ms: $(echo "scale=1; $check_s * 1000 / 1" | bc -l)"
echo "startup_check_vs_install_ratio: $(echo "scale=4; $check_s / $install_s" | bc -l)"
many_s=$(pick seconds "$BENCH/many_install.txt")
many_floor_s=$(pick seconds "$BENCH/many_floor.txt")
many_nsis_s=$(echo "$(walls "$BENCH/many_nsis.txt") - $(walls "$BENCH/many_nsis_one.txt")" | bc -l)
echo "many_files_install_seconds: $many_s"
echo "nsis_many_files_seconds: $(printf '%.4f' "$many_nsis_s")"
echo "many_files_vs_nsis_ratio: $(echo "scale=3; $many_s / $many_nsis_s" | bc -l)"
echo "many_files_floor_seconds: $many_floor_s"
echo "many_files_vs_floor_ratio: $(echo "scale=3; $many_s / $many_floor_s" | bc -l)"

"$ROOT/tools/bench_uninstall.sh" "$BUILD_DIR" "$SETUP"

if [ -x "$ROOT/tools/bench_pack.sh" ]; then
    "$ROOT/tools/bench_pack.sh" "$BUILD_DIR" "$BENCH/data"
fi
