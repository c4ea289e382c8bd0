#!/usr/bin/env bash
# Installs what the build needs, builds, and runs the program's main job.  Until the application
# exists, the main job is the engine's own checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" -L 'engine-'
