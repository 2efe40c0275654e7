#!/usr/bin/env bash
# Checks the shipped setup.exe: a 32-bit GUI program (PE32, Intel 80386)
# that imports system DLLs only. Prints a ctest-style closing line.
set -uo pipefail
exe=$1
failed=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "product: $what: ok"; else echo "product: $what: FAILED"; failed=$((failed + 1)); fi
}
format=$(i686-w64-mingw32-objdump -f "$exe" 2>/dev/null | grep -o 'file format [a-z0-9-]*')
check "PE32 for Intel 80386 ($format)" test "$format" = "file format pei-i386"
subsystem=$(i686-w64-mingw32-objdump -p "$exe" | awk '/^Subsystem/ {print $2}')
check "GUI subsystem" test "$subsystem" = "00000002"
dlls=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
echo "product: imports $dlls"
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll comctl32.dll msvcrt.dll "
only_system() {
    local dll
    for dll in $dlls; do
        [[ $allowed == *" $dll "* ]] || return 1
    done
}
check "imports system DLLs only" only_system
echo "$((3 - failed)) passed, $failed failed"
[ $failed -eq 0 ]
