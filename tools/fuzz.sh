#!/usr/bin/env bash
# Builds the libFuzzer targets of native/ and runs each for a bounded time.
#   tools/fuzz.sh [target...]   default: every target; FUZZ_SECONDS per target (60)
# Fails on any crash, leak, timeout or sanitizer report; the input that caused
# it is left in <build>/native-fuzz/artifacts/. Each target starts from the
# checked-in seeds (native/fuzz/corpus/<target>) plus what earlier runs found.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_ROOT=${SETUP_BUILD_ROOT:-$ROOT/build}
DIR="$BUILD_ROOT/native-fuzz"
SECONDS_EACH=${FUZZ_SECONDS:-60}
export LC_ALL=C

echo "==> building the fuzz targets in $DIR" >&2
cmake -S "$ROOT/native" -B "$DIR" -G Ninja -DSETUP_NATIVE_FUZZ=ON >/dev/null
cmake --build "$DIR" -j "$(nproc)" >/dev/null

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for seeds in "$ROOT"/native/fuzz/corpus/*/; do
        targets+=("$(basename "$seeds")")
    done
fi

mkdir -p "$DIR/artifacts" "$DIR/scratch" "$DIR/logs"
export FUZZ_SCRATCH_DIR="$DIR/scratch"
export UBSAN_OPTIONS=print_stacktrace=1
status=0
summary=()
for target in "${targets[@]}"; do
    program="$DIR/${target}_fuzz"
    if [ ! -x "$program" ]; then
        echo "fuzz.sh: no target $target" >&2
        status=1
        continue
    fi
    mkdir -p "$DIR/corpus/$target"
    log="$DIR/logs/$target.log"
    echo "==> fuzzing $target for ${SECONDS_EACH}s" >&2
    result=ok
    "$program" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$DIR/artifacts/$target-" \
        "$DIR/corpus/$target" "$ROOT/native/fuzz/corpus/$target" >"$log" 2>&1 || result=FAILED
    # With recovery off every sanitizer report ends the run, but be sure.
    if grep -qE 'runtime error|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer' "$log"; then
        result=FAILED
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$done_line")
    summary+=("$(printf '%-20s %-7s execs %-10s cov %-6s ft %-6s corpus %s' \
        "$target" "$result" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}")")
    if [ "$result" != ok ]; then
        status=1
        tail -n 40 "$log" >&2
    fi
done

echo "==> fuzzing summary (${SECONDS_EACH}s per target; logs in $DIR/logs)"
printf '%s\n' "${summary[@]}"
exit $status
