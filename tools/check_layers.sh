#!/usr/bin/env bash
# Fails when a file of the product includes a folder above its own floor.
# Floors, bottom up; folders on one floor never include each other:
#   resources (ids only) < core < package < record < install | uninstall < wizard < app
# tools/, tests/ and native/ stand outside the product and may include any floor.
set -euo pipefail
ROOT=${1:-$(cd "$(dirname "$0")/.." && pwd)}

floor_of() {
    case $1 in
    resources) echo 0 ;;
    core) echo 1 ;;
    package) echo 2 ;;
    record) echo 3 ;;
    install | uninstall) echo 4 ;;
    wizard) echo 5 ;;
    app) echo 6 ;;
    *) echo -1 ;;
    esac
}

status=0
checked=0
for folder in resources core package record install uninstall wizard app; do
    [ -d "$ROOT/$folder" ] || continue
    own=$(floor_of "$folder")
    while IFS= read -r -d '' file; do
        checked=$((checked + 1))
        while IFS= read -r target; do
            [ -n "$target" ] || continue
            case $target in */*) ;; *) continue ;; esac
            top=${target%%/*}
            [ "$top" = "$folder" ] && continue
            other=$(floor_of "$top")
            if [ "$other" -lt 0 ] || [ "$other" -ge "$own" ]; then
                echo "${file#"$ROOT"/} includes $target: $top is not below $folder" >&2
                status=1
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done < <(find "$ROOT/$folder" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.rc' \) -print0)
done
[ "$checked" -gt 0 ] || { echo "check_layers: no sources found below $ROOT" >&2; exit 1; }
[ $status -eq 0 ] && echo "include floors: $checked files, every include points down"
exit $status
