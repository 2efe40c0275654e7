#!/usr/bin/env bash
# Times `setup-pack build` (under Wine) against native `zip -9 -r`, `gzip -9`
# and `makensis` (tools/bench_nsis.nsi, zlib, not solid) on the same files and
# compares the output sizes.
#   tools/bench_pack.sh <build dir> [folder with server/ client/ database/]
# Without a folder, the deterministic tree of tools/bench_data is generated.
# BENCH_RUNS (default 5) runs each; the medians are reported as key: value.
# pack_bytes counts what the package adds to the setup program (payload,
# index and configuration); pack_exe_bytes is the whole program, and so is the
# NSIS size. The CPU seconds and the load average help to read figures taken
# on a busy machine.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: bench_pack.sh <build dir> [data folder]}" && pwd)
DATA=${2:-}
RUNS=${BENCH_RUNS:-5}
WORK="$BUILD/bench_pack"
mkdir -p "$WORK"

if [ -z "$DATA" ]; then
    DATA="$WORK/data"
    if [ ! -f "$DATA/.complete" ]; then
        g++ -O2 -std=c++17 -o "$WORK/make_bench_data" "$ROOT/tools/bench_data/make_bench_data.cpp"
        rm -rf "$DATA"
        "$WORK/make_bench_data" "$DATA"
        touch "$DATA/.complete"
    fi
fi
DATA=$(cd "$DATA" && pwd)
for group in server client database; do
    [ -d "$DATA/$group" ] || { echo "bench_pack.sh: $DATA/$group is missing" >&2; exit 1; }
done

win() { printf 'Z:%s' "$1" | tr / '\\'; }
# The first file of a group, unless the usual program name is there.
program() { # group usual-name
    if [ -f "$DATA/$1/$2" ]; then echo "$2"; return; fi
    (cd "$DATA/$1" && LC_ALL=C find . -type f | LC_ALL=C sort | head -n 1 | sed 's|^\./||' | tr / '\\')
}
SERVER_PROGRAM=$(program server VTRServer.exe)
CLIENT_PROGRAM=$(program client VTRClient.exe)

SETUP_BUILD_DIR=$BUILD
# shellcheck source=tools/wine-env.sh
. "$ROOT/tools/wine-env.sh"
wineserver -p >/dev/null 2>&1 || true
"$SETUP_WINE" cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# shellcheck source=tools/bench_nsis.sh
. "$ROOT/tools/bench_nsis.sh"

median() { LC_ALL=C sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
# Runs a command; appends "wall cpu" (cpu = user + system of it and its
# children) to the named file.
timed() { # file command...
    local file=$1 report
    shift
    report=$({ TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1) || {
        echo "bench_pack.sh: failed: $*" >&2
        exit 1
    }
    echo "$report" | awk '{print $1, $2 + $3}' >>"$file"
}

rm -f "$WORK"/times.*
for _ in $(seq "$RUNS"); do
    rm -f "$WORK/setup.exe" "$WORK/bench.zip" "$WORK/nsis.exe"
    timed "$WORK/times.pack" "$SETUP_WINE" "$BUILD/bin/setup-pack.exe" build \
        --config "$(win "$ROOT/sample/setup.ini")" --server "$(win "$DATA/server")" \
        --client "$(win "$DATA/client")" --database "$(win "$DATA/database")" \
        --server-program "$SERVER_PROGRAM" --client-program "$CLIENT_PROGRAM" \
        -o "$(win "$WORK/setup.exe")"
    timed "$WORK/times.zip" sh -c "cd '$DATA' && zip -q -9 -r '$WORK/bench.zip' server client database"
    timed "$WORK/times.gzip" sh -c "cd '$DATA' && find server client database -type f -print0 |
        LC_ALL=C sort -z | xargs -0 gzip -9 -c >'$WORK/bench.gz'"
    timed "$WORK/times.makensis" nsis_build "$DATA" "$WORK/nsis.exe"
done
column_median() { awk -v c="$2" '{print $c}' "$1" | median; }

package_bytes=$("$SETUP_WINE" "$BUILD/bin/setup-pack.exe" inspect "$(win "$WORK/setup.exe")" |
    tr -d '\r' | awk -F': ' '/^(payload|index|config)\.bytes: /{s+=$2} END {print s}')
pack_seconds=$(column_median "$WORK/times.pack" 1)
zip_seconds=$(column_median "$WORK/times.zip" 1)
gzip_seconds=$(column_median "$WORK/times.gzip" 1)
zip_bytes=$(stat -c %s "$WORK/bench.zip")
makensis_seconds=$(column_median "$WORK/times.makensis" 1)
nsis_bytes=$(stat -c %s "$WORK/nsis.exe")

echo "runs: $RUNS"
echo "jobs: $(nproc)"
echo "pack_seconds: $pack_seconds"
echo "zip9_seconds: $zip_seconds"
echo "gzip9_seconds: $gzip_seconds"
echo "pack_cpu_seconds: $(column_median "$WORK/times.pack" 2)"
echo "zip9_cpu_seconds: $(column_median "$WORK/times.zip" 2)"
echo "load_average: $(cut -d' ' -f1 /proc/loadavg)"
echo "pack_vs_zip9_speedup: $(echo "scale=3; $zip_seconds / $pack_seconds" | bc)"
echo "pack_bytes: $package_bytes"
echo "pack_exe_bytes: $(stat -c %s "$WORK/setup.exe")"
echo "zip9_bytes: $zip_bytes"
echo "gzip9_bytes: $(stat -c %s "$WORK/bench.gz")"
echo "pack_vs_zip9_size_ratio: $(echo "scale=4; $package_bytes / $zip_bytes" | bc)"
echo "makensis_seconds: $makensis_seconds"
echo "makensis_cpu_seconds: $(column_median "$WORK/times.makensis" 2)"
echo "makensis_stub: $NSIS_STUB"
echo "makensis_exe_bytes: $nsis_bytes"
echo "pack_vs_makensis_speedup: $(echo "scale=3; $makensis_seconds / $pack_seconds" | bc)"
echo "pack_vs_makensis_size_ratio: $(echo "scale=4; $package_bytes / $nsis_bytes" | bc)"
