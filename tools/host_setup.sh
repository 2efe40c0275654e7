# shellcheck shell=bash
# Sourced by build.sh: installs the Debian packages the build needs and decides
# which build runs the tests, the shipped 32-bit one (i686) or its 64-bit twin
# (x86_64). Everything that asks the machine (apt, dpkg, the kernel, Wine) goes
# through one of the host_* functions below, so a test can stand in for them.
#
# The 64-bit packages come first and must install. The 32-bit Wine packages
# are added only where the kernel runs 32-bit programs, and only if the
# mirror can deliver them; otherwise the tests run the 64-bit twin, and the
# build says so in one line.

# Runs 32-bit Windows programs; needs the i386 architecture.
APT_PACKAGES_32=(wine32:i386)
# From wine32: the 32-bit Wine loader.
WINE32_LOADER=/usr/lib/wine/wine
# A mirror in the middle of a sync serves indexes that do not match its
# Release file for a minute or two: apt-get update is tried this many times,
# pausing APT_RETRY_PAUSE, then twice that, and so on, between attempts.
APT_UPDATE_ATTEMPTS=3
APT_RETRY_PAUSE=15
# After the 32-bit packages could not be installed, builds within this many
# minutes do not ask the mirror again.
WINE32_RETRY_MINUTES=60

# Set by choose_test_build.
TEST_ARCH=
TEST_ARCH_WHY=

# ---- probes -------------------------------------------------------------
host_is_root() { [ "$(id -u)" -eq 0 ]; }

host_apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

# Prints the given packages that are not installed (names as given).
host_missing_packages() {
    local installed pkg
    installed=$(dpkg-query -W -f='${db:Status-Abbrev}${Package}\n' "${@%%:*}" 2>/dev/null |
        sed -n 's/^ii *//p')
    for pkg; do
        grep -qxF "${pkg%%:*}" <<<"$installed" || echo "$pkg"
    done
}

host_has_i386() { dpkg --print-foreign-architectures | grep -qx i386; }
host_add_i386() { dpkg --add-architecture i386; }

host_wine32_runs() { "$WINE32_LOADER" --version >/dev/null 2>&1; }

# Builds and runs a one-line 32-bit program in the given folder: 0 when it
# runs, 1 when the kernel refuses it, 2 when no 32-bit program can be built
# (gcc-multilib missing).
host_runs_m32() {
    local dir=$1
    mkdir -p "$dir" || return 2
    rm -f "$dir/m32"
    printf 'int main(void) { return 0; }\n' |
        gcc -m32 -x c -o "$dir/m32" - >/dev/null 2>&1 || return 2
    if "$dir/m32" >/dev/null 2>&1; then return 0; else return 1; fi
}

host_pause() { sleep "$1"; }

# ---- helpers ------------------------------------------------------------
say() { printf 'build.sh: %s\n' "$*" >&2; }

# The first error apt wrote into the given file, without "E: " and the
# closing full stop.
first_apt_error() {
    local line
    line=$(grep -m1 '^E: ' "$1" 2>/dev/null)
    line=${line#E: }
    printf '%s' "${line%.}"
}

# apt-get update, tried APT_UPDATE_ATTEMPTS times. When some index still
# cannot be read, says which and returns 1: the install goes on with the
# indexes apt has.
apt_update() { # log file
    local log_file=$1 attempt=1 out="$1.update"
    while :; do
        if host_apt_get update -q >"$out" 2>&1; then
            cat "$out" >>"$log_file"
            rm -f "$out"
            return 0
        fi
        cat "$out" >>"$log_file"
        [ "$attempt" -ge "$APT_UPDATE_ATTEMPTS" ] && break
        host_pause $((APT_RETRY_PAUSE * attempt))
        attempt=$((attempt + 1))
    done
    say "apt-get update failed $attempt times ($(first_apt_error "$out")); going on with the package indexes apt has"
    rm -f "$out"
    return 1
}

# Installs the packages, apt's output appended to the log file; on failure
# prints apt's first error and returns 1.
apt_install() { # log file, package...
    local log_file=$1 out="$1.install"
    shift
    local status=0
    host_apt_get install -y -q --no-install-recommends "$@" >"$out" 2>&1 || status=1
    cat "$out" >>"$log_file"
    [ $status -eq 0 ] || first_apt_error "$out"
    rm -f "$out"
    return $status
}

# Installs every package of the list that is missing; says in one line why
# when that cannot be done, and returns 1. apt's output goes to the log file.
install_build_packages() { # log file, package...
    local log_file=$1 missing error
    shift
    missing=$(host_missing_packages "$@" | tr '\n' ' ')
    missing=${missing% }
    [ -n "$missing" ] || missing="$*"
    if ! host_is_root; then
        say "packages are missing and installing them needs root: apt-get install $missing"
        return 1
    fi
    mkdir -p "$(dirname "$log_file")"
    : >"$log_file"
    apt_update "$log_file" || true
    APT_UPDATED=1
    # shellcheck disable=SC2086 # one word per package
    if ! error=$(apt_install "$log_file" $missing); then
        say "cannot install the build packages ($missing): ${error:-apt-get install failed}; apt's output is in $log_file"
        return 1
    fi
}

# Decides which build runs the tests and sets TEST_ARCH and TEST_ARCH_WHY.
# Installs the 32-bit Wine packages where the kernel runs 32-bit programs and
# they are missing. Says in one line when they cannot be had.
choose_test_build() { # work folder (probe program, apt log, memo)
    local dir=$1 kernel error memo="$1/wine32-unavailable"
    TEST_ARCH=x86_64
    if host_wine32_runs; then
        TEST_ARCH=i686
        TEST_ARCH_WHY="32-bit Wine runs here"
        return 0
    fi
    kernel=0
    host_runs_m32 "$dir/m32-probe" || kernel=$?
    if [ "$kernel" -eq 1 ]; then
        TEST_ARCH_WHY="this kernel does not run 32-bit programs"
        printf '==> %s: the tests run the 64-bit twin\n' "$TEST_ARCH_WHY" >&2
        return 0
    fi
    if [ "$kernel" -eq 2 ]; then
        TEST_ARCH_WHY="no 32-bit program can be built here (gcc -m32 fails), so whether this kernel runs one is unknown"
    elif ! host_is_root; then
        TEST_ARCH_WHY="this kernel runs 32-bit programs, but 32-bit Wine (${APT_PACKAGES_32[*]}) is not installed and installing it needs root"
    elif [ -n "$(find "$memo" -mmin -"$WINE32_RETRY_MINUTES" 2>/dev/null)" ]; then
        TEST_ARCH_WHY="$(cat "$memo") (tried less than $WINE32_RETRY_MINUTES minutes ago; delete $memo to try again)"
    else
        mkdir -p "$dir"
        : >"$dir/apt-i386.log"
        if ! host_has_i386; then
            # Should this fail, the install below says what is missing.
            host_add_i386 || true
            APT_UPDATED=
        fi
        [ -n "${APT_UPDATED:-}" ] || apt_update "$dir/apt-i386.log" || true
        APT_UPDATED=1
        if ! error=$(apt_install "$dir/apt-i386.log" "${APT_PACKAGES_32[@]}"); then
            TEST_ARCH_WHY="the 32-bit Wine packages (${APT_PACKAGES_32[*]}) cannot be installed (${error:-apt-get install failed}; apt's output is in $dir/apt-i386.log)"
            echo "$TEST_ARCH_WHY" >"$memo"
        elif ! host_wine32_runs; then
            TEST_ARCH_WHY="32-bit Wine was installed but does not start ($WINE32_LOADER --version fails)"
        else
            rm -f "$memo"
            TEST_ARCH=i686
            TEST_ARCH_WHY="32-bit Wine runs here (installed just now)"
            return 0
        fi
    fi
    say "$TEST_ARCH_WHY; the tests run the 64-bit twin (x86_64), not the shipped 32-bit build"
}

# The closing line of a test run: which build the tests ran, and why.
test_build_summary() {
    if [ "$TEST_ARCH" = i686 ]; then
        printf '==> the tests ran the i686 build (the shipped 32-bit programs): %s\n' "$TEST_ARCH_WHY"
    else
        printf '==> the tests ran the x86_64 build (the 64-bit twin of the programs): %s\n' "$TEST_ARCH_WHY"
    fi
}
