#!/usr/bin/env bash
# Checks the shipped setup.exe: a 32-bit GUI program (PE32, Intel 80386)
# that imports system DLLs only; and the same for the uninstaller it carries
# (built beside it), which must also stay small. Prints a ctest-style
# closing line.
set -uo pipefail
exe=$1
failed=0
passed=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "product: $what: ok"
        passed=$((passed + 1))
    else
        echo "product: $what: FAILED"
        failed=$((failed + 1))
    fi
}
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll comctl32.dll msvcrt.dll "
only_system() {
    local dll
    for dll in $dlls; do
        [[ $allowed == *" $dll "* ]] || return 1
    done
}
check_program() { # label, path
    local label=$1 program=$2 format subsystem
    format=$(i686-w64-mingw32-objdump -f "$program" 2>/dev/null | grep -o 'file format [a-z0-9-]*')
    check "$label: PE32 for Intel 80386 ($format)" test "$format" = "file format pei-i386"
    subsystem=$(i686-w64-mingw32-objdump -p "$program" | awk '/^Subsystem/ {print $2}')
    check "$label: GUI subsystem" test "$subsystem" = "00000002"
    dlls=$(i686-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
    echo "product: $label imports $dlls"
    check "$label: imports system DLLs only" only_system
}
check_program setup.exe "$exe"
uninstaller="$(dirname "$exe")/MDPX-Uninstall.exe"
check "uninstaller built beside setup.exe" test -f "$uninstaller"
if [ -f "$uninstaller" ]; then
    check_program MDPX-Uninstall.exe "$uninstaller"
    size=$(stat -c %s "$uninstaller")
    check "MDPX-Uninstall.exe well under 1 MB ($size bytes)" test "$size" -lt 524288
fi
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
