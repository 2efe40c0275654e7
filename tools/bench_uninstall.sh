#!/usr/bin/env bash
# Uninstall benchmark, run by tools/bench.sh: installs the benchmark package
# with ProgramMg set, then times the silent uninstall ("MDPX-Uninstall.exe
# /S", including its start under Wine and its temporary copy) and checks that
# nothing of the installation is left. Medians over RUNS runs.
#   bench_uninstall.sh BUILD_DIR SETUP.exe
set -euo pipefail
BUILD_DIR=$1
SETUP=$2
RUNS=${RUNS:-5}
BENCH="$BUILD_DIR/bench"
TARGET="$BUILD_DIR/drive_d/bench-uninstall"

winpath() { echo "Z:${1//\//\\}"; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
now() { date +%s.%N; }

: >"$BENCH/registered.txt"
: >"$BENCH/uninstall.txt"
for _ in $(seq "$RUNS"); do
    rm -rf "$TARGET" "$BENCH/work"
    "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/bin/bench-install.exe" registered "$(winpath "$SETUP")" \
        'D:\bench-uninstall\' "$(winpath "$BENCH/work")\\" | tr -d '\r' >>"$BENCH/registered.txt"
    start=$(now)
    code=0
    "$BUILD_DIR/wine-run.sh" 'D:\bench-uninstall\MDPX-Uninstall.exe' /S || code=$?
    seconds=$(echo "$(now) - $start" | bc -l)
    # The temporary copy removes the program and the folder just after.
    for _ in $(seq 50); do [ -e "$TARGET" ] || break; sleep 0.1; done
    if [ "$code" != 0 ] || [ -e "$TARGET" ]; then
        echo "bench_uninstall: exit code $code; left behind:" >&2
        find "$TARGET" | head -20 >&2 || true
        exit 1
    fi
    echo "seconds: $seconds" >>"$BENCH/uninstall.txt"
done
rm -rf "$TARGET"

install_s=$(grep '^seconds:' "$BENCH/registered.txt" | awk '{print $2}' | median)
uninstall_s=$(grep '^seconds:' "$BENCH/uninstall.txt" | awk '{print $2}' | median)
echo "uninstall_seconds: $(printf '%.4f' "$uninstall_s")"
echo "uninstall_vs_install_ratio: $(echo "scale=3; $uninstall_s / $install_s" | bc -l)"
