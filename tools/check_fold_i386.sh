#!/usr/bin/env bash
# The folded CRC-32 built as 32-bit x86 code, the shipped program's mode, with
# the 4-byte stack alignment Windows gives a 32-bit thread, and run under
# qemu's user-mode emulator on processors with and without carry-less
# multiply: the hosts here cannot run 32-bit programs themselves.
#   check_fold_i386.sh SOURCE_ROOT OUT_DIR
# Exits 77 (ctest: skipped) when the emulator or 32-bit C files are missing.
set -u
ROOT=$1
OUT=$2
command -v qemu-i386-static >/dev/null || { echo "qemu-i386-static is missing"; exit 77; }
mkdir -p "$OUT"
FLAGS=(-m32 -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -mincoming-stack-boundary=2 -nostdinc++ "-I$ROOT")
if ! g++ "${FLAGS[@]}" -c "$ROOT/package/crc32_fold.cpp" -o "$OUT/crc32_fold.o" ||
    ! g++ "${FLAGS[@]}" -c "$ROOT/native/i386/crc32_fold_check.cpp" -o "$OUT/check.o"; then
    echo "the 32-bit build failed"
    exit 1
fi
gcc -m32 -static "$OUT/check.o" "$OUT/crc32_fold.o" -o "$OUT/crc32_fold_check" 2>/dev/null ||
    { echo "no 32-bit C library to link with"; exit 77; }
status=0
# Westmere is the first with the instruction; Core 2 and Pentium III lack it.
for cpu in max:1 Westmere:1 core2duo:0 pentium3:0; do
    printf '%s: ' "${cpu%:*}"
    qemu-i386-static -cpu "${cpu%:*}" "$OUT/crc32_fold_check" "${cpu#*:}" 2>/dev/null || {
        echo "failed"
        status=1
    }
done
exit $status
