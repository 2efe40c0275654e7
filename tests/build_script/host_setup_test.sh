#!/usr/bin/env bash
# The decisions of tools/host_setup.sh, with apt, dpkg, the kernel and Wine
# played by stubs: what gets installed, which build runs the tests, and what
# the user is told. Runs natively (no Wine); exits non-zero on any failure.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=tools/host_setup.sh
. "$ROOT/tools/host_setup.sh"
BUILD_PACKAGES=(g++-mingw-w64-i686 wine wine64 gcc-multilib)

# ---- the stubbed machine --------------------------------------------------
# The machine: KERNEL runs 32-bit programs (yes|no|nocc: no 32-bit compiler),
# the i386 INDEX (ok|broken), WINE32 (installable|held), the mirror has every
# build package (AMD64 ok|missing), ROOT (yes|no). What changes lives in
# files, as apt runs in subshells: in $STATE the flags i386 (architecture
# added) and installed.<package>, and "calls", every probe in order.
# shellcheck disable=SC2317 # the stubs are called from host_setup.sh
STATE=
fact() { cat "$STATE/$1"; }
calls() { cat "$STATE/calls"; }
host_is_root() { [ "$ROOT_USER" = yes ]; }
host_runs_m32() {
    echo "m32 probe" >>"$STATE/calls"
    case $KERNEL in yes) return 0 ;; no) return 1 ;; *) return 2 ;; esac
}
host_has_i386() { [ -f "$STATE/i386" ]; }
host_add_i386() {
    echo "add i386" >>"$STATE/calls"
    touch "$STATE/i386"
}
host_wine32_runs() { [ -f "$STATE/installed.wine32:i386" ] && [ "$KERNEL" = yes ]; }
host_missing_packages() {
    local pkg
    for pkg; do [ -f "$STATE/installed.$pkg" ] || echo "$pkg"; done
}
host_pause() { echo "pause $1" >>"$STATE/calls"; }
host_apt_get() {
    local pkg
    echo "apt-get $*" >>"$STATE/calls"
    case $1 in
    update)
        echo "Hit:1 http://deb.debian.org/debian bookworm InRelease"
        if host_has_i386 && [ "$INDEX" = broken ]; then
            echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
            return 100
        fi
        ;;
    install)
        shift 4 # -y -q --no-install-recommends
        for pkg; do
            if [ "$pkg" = wine32:i386 ] &&
                { ! host_has_i386 || [ "$WINE32" = held ]; }; then
                echo "The following packages have unmet dependencies:"
                echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
                echo "E: Unable to correct problems, you have held broken packages."
                return 100
            fi
            if [ "$pkg" = nsis ] && [ "$AMD64" = missing ]; then
                echo "Reading package lists..."
                echo "E: Unable to locate package nsis"
                return 100
            fi
        done
        for pkg; do touch "$STATE/installed.$pkg"; done
        ;;
    esac
}

new_machine() { # kernel index wine32 [root] [amd64]
    STATE="$WORK/machine$((++machines))"
    mkdir -p "$STATE"
    KERNEL=$1 INDEX=$2 WINE32=$3 ROOT_USER=${4:-yes} AMD64=${5:-ok}
    : >"$STATE/calls"
}
machines=0

# ---- checks ---------------------------------------------------------------
failures=0
checks=0
CASE=
check() { # description, command...
    local what=$1
    shift
    checks=$((checks + 1))
    if ! "$@"; then
        echo "FAIL [$CASE] $what"
        failures=$((failures + 1))
    fi
}
has() { grep -q -- "$2" "$1"; }
lacks() { ! grep -q -- "$2" "$1"; }
count_is() { [ "$(grep -c -- "$2" "$1")" -eq "$3" ]; }
# No line of apt's own output reaches the user.
no_apt_wall() { ! grep -qE '^(E|W): |Depends:|Reading package lists|^Hit:' "$1"; }

# A whole set-up as build.sh runs it: the build packages, then the choice of
# the build that runs the tests. Leaves the outcome in $STATE.
set_up() {
    (
        install_build_packages "$STATE/apt.log" "${BUILD_PACKAGES[@]}" || exit 1
        choose_test_build "$STATE/build"
        echo "$TEST_ARCH" >"$STATE/arch"
        test_build_summary >"$STATE/summary"
    ) 2>"$STATE/said"
    echo $? >"$STATE/status"
}

# Every combination of kernel, i386 index and wine32 on a fresh machine (no
# i386 architecture yet, nothing installed).
#  kernel runs 32-bit | i386 index | wine32     | tests run
while read -r kernel index wine32 expected; do
    CASE="kernel 32-bit: $kernel, i386 index: $index, wine32: $wine32"
    new_machine "$kernel" "$index" "$wine32"
    set_up
    said="$STATE/said"
    check "set-up succeeds" [ "$(fact status)" = 0 ]
    check "tests run the $expected build" [ "$(fact arch)" = "$expected" ]
    check "every build package installed" [ -z "$(host_missing_packages "${BUILD_PACKAGES[@]}")" ]
    check "the build packages come first, without any 32-bit one" \
        [ "$(grep -m1 '^apt-get install' "$STATE/calls")" = \
        "apt-get install -y -q --no-install-recommends ${BUILD_PACKAGES[*]}" ]
    check "summary names the $expected build" has "$STATE/summary" "tests ran the $expected build"
    check "no apt output on screen" no_apt_wall "$said"
    if [ "$kernel" = yes ]; then
        check "i386 added" count_is "$STATE/calls" "^add i386" 1
        check "wine32 asked for once" count_is "$STATE/calls" "install .*wine32:i386" 1
        check "i386 added after the build packages are in" \
            [ "$(grep -n -m1 '^add i386' "$STATE/calls" | cut -d: -f1)" -gt \
            "$(grep -n -m1 '^apt-get install' "$STATE/calls" | cut -d: -f1)" ]
    else
        check "i386 never added" lacks "$STATE/calls" "add i386"
        check "wine32 never asked for" lacks "$STATE/calls" "wine32"
        check "says the kernel does not run 32-bit programs" \
            has "$said" "this kernel does not run 32-bit programs"
        check "summary says why" has "$STATE/summary" "this kernel does not run 32-bit programs"
    fi
    if [ "$kernel" = yes ] && [ "$index" = broken ]; then
        check "update tried 3 times for the i386 index" count_is "$STATE/calls" "^apt-get update" 4
        check "pauses grow between attempts" \
            [ "$(grep '^pause' "$STATE/calls" | tr '\n' ' ')" = "pause 15 pause 30 " ]
        check "says the index could not be read and goes on" \
            count_is "$said" "apt-get update failed 3 times (Failed to fetch .*binary-i386.*); going on" 1
    else
        check "no retries when every index reads" lacks "$STATE/calls" "pause"
        check "nothing said about the indexes" lacks "$said" "apt-get update"
    fi
    if [ "$expected" = x86_64 ] && [ "$kernel" = yes ]; then
        check "one line says the 32-bit packages cannot be had and what runs instead" \
            count_is "$said" "^build.sh: the 32-bit Wine packages (wine32:i386) cannot be installed (Unable to correct problems, you have held broken packages; apt's output is in $STATE/build/apt-i386.log); the tests run the 64-bit twin (x86_64)" 1
        check "summary says why" has "$STATE/summary" "wine32:i386) cannot be installed (Unable to correct"
    fi
    if [ "$expected" = i686 ]; then
        check "nothing said about the 64-bit twin" lacks "$said" "64-bit twin"
    fi
    check "the twin is named in one line at most" [ "$(grep -c '64-bit twin' "$said")" -le 1 ]
done <<'EOF'
yes ok     installable i686
yes ok     held        x86_64
yes broken installable i686
yes broken held        x86_64
no  ok     installable x86_64
no  ok     held        x86_64
no  broken installable x86_64
no  broken held        x86_64
EOF

CASE="i386 already enabled, kernel without 32-bit support, i386 index broken"
new_machine no broken held
touch "$STATE/i386"
set_up
check "set-up succeeds" [ "$(fact status)" = 0 ]
check "the build packages are still installed" [ -z "$(host_missing_packages "${BUILD_PACKAGES[@]}")" ]
check "update retried, then the install goes on" count_is "$STATE/calls" "^apt-get update" 3
check "says so in one line" count_is "$STATE/said" "going on with the package indexes apt has" 1
check "tests run the twin" [ "$(fact arch)" = x86_64 ]

CASE="i386 already enabled and its index read with the build packages"
new_machine yes ok installable
touch "$STATE/i386"
set_up
check "no second update for wine32" count_is "$STATE/calls" "^apt-get update" 1
check "tests run the i686 build" [ "$(fact arch)" = i686 ]

CASE="wine32 already runs"
new_machine yes broken held no
touch "$STATE/installed.wine32:i386"
(choose_test_build "$STATE/build" && echo "$TEST_ARCH" >"$STATE/arch") 2>"$STATE/said"
check "tests run the i686 build" [ "$(fact arch)" = i686 ]
check "apt and the kernel probe are left alone" [ -z "$(calls)" ]
check "nothing said" [ ! -s "$STATE/said" ]

CASE="not root, build packages present, wine32 missing on a 32-bit kernel"
new_machine yes ok installable no
(choose_test_build "$STATE/build" && echo "$TEST_ARCH" >"$STATE/arch") 2>"$STATE/said"
check "tests run the twin" [ "$(fact arch)" = x86_64 ]
check "apt left alone" lacks "$STATE/calls" "apt-get"
check "one line says root is needed" \
    count_is "$STATE/said" "^build.sh: this kernel runs 32-bit programs, but 32-bit Wine (wine32:i386) is not installed and installing it needs root; the tests run the 64-bit twin" 1

CASE="no 32-bit compiler"
new_machine nocc ok installable
(choose_test_build "$STATE/build" && echo "$TEST_ARCH" >"$STATE/arch") 2>"$STATE/said"
check "tests run the twin" [ "$(fact arch)" = x86_64 ]
check "says the kernel could not be probed" count_is "$STATE/said" "gcc -m32 fails.*64-bit twin" 1

CASE="not root, build packages missing"
new_machine yes ok installable no
set_up
check "set-up fails" [ "$(fact status)" = 1 ]
check "apt left alone" lacks "$STATE/calls" "apt-get"
check "one line names the missing packages" \
    count_is "$STATE/said" "needs root: apt-get install ${BUILD_PACKAGES[*]}$" 1

CASE="a build package the mirror does not have"
new_machine yes ok installable yes missing
BUILD_PACKAGES+=(nsis)
set_up
check "set-up fails" [ "$(fact status)" = 1 ]
check "one clear error" count_is "$STATE/said" "^build.sh: cannot install the build packages (.* nsis): Unable to locate package nsis; apt's output is in $STATE/apt.log$" 1
check "nothing else said" [ "$(wc -l <"$STATE/said")" -eq 1 ]
check "apt's output kept" has "$STATE/apt.log" "Unable to locate package nsis"
check "no 32-bit step after the failure" lacks "$STATE/calls" "add i386"
unset 'BUILD_PACKAGES[-1]'

CASE="wine32 failed a moment ago"
new_machine yes ok held
set_up
before=$(grep -c '^apt-get' "$STATE/calls")
(choose_test_build "$STATE/build" && echo "$TEST_ARCH" >"$STATE/arch") 2>"$STATE/said"
check "apt not asked again" [ "$(grep -c '^apt-get' "$STATE/calls")" -eq "$before" ]
check "the reason is said again" count_is "$STATE/said" "cannot be installed (Unable to correct problems.*tried less than 60 minutes ago.*64-bit twin" 1
touch -d '2 hours ago' "$STATE/build/wine32-unavailable"
(choose_test_build "$STATE/build" && echo "$TEST_ARCH" >"$STATE/arch") 2>"$STATE/said"
check "asked again an hour later" [ "$(grep -c '^apt-get install' "$STATE/calls")" -eq 3 ]

# The real kernel probe, with gcc standing in: what it makes of a program that
# runs, one the kernel refuses, and no 32-bit compiler at all.
CASE="kernel probe"
# shellcheck source=tools/host_setup.sh
. "$ROOT/tools/host_setup.sh" # the real probes again
mkdir -p "$WORK/bin"
for outcome in runs refused nocc; do
    cat >"$WORK/bin/gcc" <<EOF
#!/bin/sh
cat >/dev/null
out=\$5
case $outcome in
runs) printf '#!/bin/sh\nexit 0\n' >"\$out" ;;
refused) printf '\177ELF\1\1\1' >"\$out" ;;
nocc) echo "cannot find crt1.o" >&2; exit 1 ;;
esac
chmod +x "\$out"
EOF
    chmod +x "$WORK/bin/gcc"
    status=0
    PATH="$WORK/bin:$PATH" host_runs_m32 "$WORK/probe-$outcome" 2>"$WORK/probe.err" || status=$?
    case $outcome in runs) want=0 ;; refused) want=1 ;; nocc) want=2 ;; esac
    check "$outcome: status $want" [ "$status" -eq "$want" ]
    check "$outcome: quiet" [ ! -s "$WORK/probe.err" ]
done

echo "host set-up: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
