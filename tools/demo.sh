#!/usr/bin/env bash
# Runs the sample setup program in the build's Wine prefix.
set -euo pipefail
BUILD_DIR=$1
SETUP_BUILD_DIR=$BUILD_DIR
. "$(dirname "$0")/wine-env.sh"
"$SETUP_WINE" "$BUILD_DIR/bin/sample-setup.exe"
echo "sample-setup.exe exited with $?"
