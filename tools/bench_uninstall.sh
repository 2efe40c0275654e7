#!/usr/bin/env bash
# Uninstall benchmark, run by tools/bench.sh: installs the benchmark package
# with ProgramMg set, then times the silent uninstall ("MDPX-Uninstall.exe
# /S") until its program and folder are gone, and checks that nothing of the
# installation is left. install_seconds is measured inside the installing
# process, so the uninstall's time leaves out what starting one Wine process
# costs (measured just before, each run; printed as uninstall_launch_seconds)
# but keeps the start of its temporary copy. Medians over RUNS runs.
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
: >"$BENCH/uninstall_wall.txt"
: >"$BENCH/launch.txt"
for _ in $(seq "$RUNS"); do
    rm -rf "$TARGET" "$BENCH/work"
    "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/bin/bench-install.exe" registered "$(winpath "$SETUP")" \
        'D:\bench-uninstall\' "$(winpath "$BENCH/work")\\" | tr -d '\r' >>"$BENCH/registered.txt"
    start=$(now)
    "$BUILD_DIR/wine-run.sh" cmd /c exit
    launch=$(echo "$(now) - $start" | bc -l)
    start=$(now)
    code=0
    "$BUILD_DIR/wine-run.sh" 'D:\bench-uninstall\MDPX-Uninstall.exe' /S || code=$?
    # The temporary copy removes the program and the folder just after.
    for _ in $(seq 500); do [ -e "$TARGET" ] || break; sleep 0.01; done
    wall=$(echo "$(now) - $start" | bc -l)
    if [ "$code" != 0 ] || [ -e "$TARGET" ]; then
        echo "bench_uninstall: exit code $code; left behind:" >&2
        find "$TARGET" | head -20 >&2 || true
        exit 1
    fi
    echo "seconds: $(echo "$wall - $launch" | bc -l)" >>"$BENCH/uninstall.txt"
    echo "seconds: $wall" >>"$BENCH/uninstall_wall.txt"
    echo "seconds: $launch" >>"$BENCH/launch.txt"
done
rm -rf "$TARGET"

install_s=$(grep '^seconds:' "$BENCH/registered.txt" | awk '{print $2}' | median)
pick() { grep '^seconds:' "$1" | awk '{print $2}' | median; }
uninstall_s=$(pick "$BENCH/uninstall.txt")
echo "registered_install_seconds: $(printf '%.4f' "$install_s")"
echo "uninstall_seconds: $(printf '%.4f' "$uninstall_s")"
echo "uninstall_wall_seconds: $(printf '%.4f' "$(pick "$BENCH/uninstall_wall.txt")")"
echo "uninstall_launch_seconds: $(printf '%.4f' "$(pick "$BENCH/launch.txt")")"
echo "uninstall_vs_install_ratio: $(echo "scale=3; $uninstall_s / $install_s" | bc -l)"
