#!/usr/bin/env bash
# Renders the fault tests' results as a markdown table.
#   tools/reliability_table.sh [--update-readme] [RESULTS_DIR]
# RESULTS_DIR defaults to the testrun/reliability folders of every build that
# ran the tests (SETUP_BUILD_ROOT or build/); each row names its build.
# --update-readme replaces what lies between the README markers
# <!-- reliability-table:start --> and <!-- reliability-table:end -->.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
UPDATE=0
if [ "${1:-}" = --update-readme ]; then
    UPDATE=1
    shift
fi
DIRS=()
if [ -n "${1:-}" ]; then
    DIRS=("$1")
else
    BUILD_ROOT=${SETUP_BUILD_ROOT:-$ROOT/build}
    for arch in i686 x86_64; do
        [ -d "$BUILD_ROOT/$arch/testrun/reliability" ] &&
            DIRS+=("$BUILD_ROOT/$arch/testrun/reliability")
    done
fi
FILES=()
for dir in "${DIRS[@]}"; do
    for file in "$dir"/*.tsv; do
        [ -f "$file" ] && FILES+=("$file")
    done
done
if [ ${#FILES[@]} -eq 0 ]; then
    echo "reliability_table.sh: no results; run ./build.sh test -R faults first" >&2
    exit 1
fi

render() {
    echo "| Case | Build | Runs | Survived | Message shown | Nothing lost | Notes |"
    echo "|---|---|---|---|---|---|---|"
    # The tests write GBK (the program's code page); the README is UTF-8.
    # Results recorded before the build column name no build.
    cat "${FILES[@]}" | iconv -f GBK -t UTF-8 | LC_ALL=C sort |
        awk -F '\t' 'NF >= 7 { build = $6; note = $7 }
            NF == 6 { build = "not recorded"; note = $6 }
            NF >= 6 { printf "| %s | %s | %d | %d/%d | %d/%d | %d/%d | %s |\n",
                $1, build, $2, $3, $2, $4, $2, $5, $2, note }'
}

TABLE=$(render)
if [ $UPDATE -eq 0 ]; then
    printf '%s\n' "$TABLE"
    exit 0
fi

README="$ROOT/README.md"
START='<!-- reliability-table:start -->'
END='<!-- reliability-table:end -->'
if ! grep -qF "$START" "$README" || ! grep -qF "$END" "$README"; then
    echo "reliability_table.sh: README.md lacks the reliability-table markers" >&2
    exit 1
fi
TMP=$(mktemp)
TABLE_FILE=$(mktemp)
printf '%s\n' "$TABLE" >"$TABLE_FILE"
awk -v start="$START" -v end="$END" -v table="$TABLE_FILE" '
    index($0, start) { print; while ((getline line < table) > 0) print line; skip = 1; next }
    index($0, end) { skip = 0 }
    !skip { print }' "$README" >"$TMP"
cat "$TMP" >"$README"
rm -f "$TMP" "$TABLE_FILE"
echo "README.md: reliability table updated ($(printf '%s\n' "$TABLE" | tail -n +3 | wc -l) cases)"
