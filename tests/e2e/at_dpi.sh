#!/usr/bin/env bash
# Runs a test program with this build's Wine prefix at another DPI, and puts
# the prefix back afterwards:
#   at_dpi.sh DPI BUILD_DIR PROGRAM [ARGS...]
# The program learns the DPI it should find from SETUP_TEST_DPI.
set -euo pipefail
DPI=$1 BUILD_DIR=$2
shift 2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SETUP_BUILD_DIR=$BUILD_DIR
# shellcheck source=tools/wine-env.sh
. "$ROOT/tools/wine-env.sh"
# shellcheck source=tools/wine-dpi.sh
. "$ROOT/tools/wine-dpi.sh"
trap restore_prefix_dpi EXIT
set_prefix_dpi "$DPI"
SETUP_TEST_DPI=$DPI "$BUILD_DIR/wine-test.sh" "$@"
