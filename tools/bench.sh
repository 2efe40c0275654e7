#!/usr/bin/env bash
# Benchmarks, run by ./build.sh bench with the test build's folder:
#   installation by the worker against the floor (inflate in memory, one
#   write per file) and against native unzip; start-up's digest check of the
#   same package against the installation; the many-files package; the
#   silent uninstall; then the package builder.
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
(cd "$BENCH/data" && rm -f ../data.zip && zip -q -r ../data.zip server client database)
for _ in $(seq "$RUNS"); do
    install_once worker >>"$BENCH/install.txt"
    install_once floor >>"$BENCH/floor.txt"
    install_once check >>"$BENCH/check.txt"
    rm -rf "$BENCH/unzipped"
    start=$(now)
    unzip -q -o "$BENCH/data.zip" -d "$BENCH/unzipped"
    echo "seconds: $(echo "$(now) - $start" | bc -l)" >>"$BENCH/unzip.txt"
done
: >"$BENCH/many_install.txt"
: >"$BENCH/many_floor.txt"
for _ in $(seq "${MANY_RUNS:-3}"); do
    install_once worker "$MANY_SETUP" >>"$BENCH/many_install.txt"
    install_once floor "$MANY_SETUP" >>"$BENCH/many_floor.txt"
done
rm -rf "$BUILD_DIR/drive_d/bench-install" "$BENCH/unzipped"

pick() { tr -d "\r" <"$2" | grep "^$1:" | awk '{print $2}' | median; }
install_s=$(pick seconds "$BENCH/install.txt")
floor_s=$(pick seconds "$BENCH/floor.txt")
unzip_s=$(pick seconds "$BENCH/unzip.txt")
bytes=$(pick bytes "$BENCH/install.txt")
peak=$(pick peak_mb "$BENCH/install.txt")
check_s=$(pick seconds "$BENCH/check.txt")
echo "install_seconds: $install_s"
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
echo "many_files_install_seconds: $many_s"
echo "many_files_floor_seconds: $many_floor_s"
echo "many_files_vs_floor_ratio: $(echo "scale=3; $many_s / $many_floor_s" | bc -l)"

"$ROOT/tools/bench_uninstall.sh" "$BUILD_DIR" "$SETUP"

if [ -x "$ROOT/tools/bench_pack.sh" ]; then
    "$ROOT/tools/bench_pack.sh" "$BUILD_DIR" "$BENCH/data"
fi
