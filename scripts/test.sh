#!/usr/bin/env bash
# Installs what the build needs, checks the sources' layering and format, builds, and runs every
# test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check-layering.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" "$@"
