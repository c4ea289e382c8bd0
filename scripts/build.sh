#!/usr/bin/env bash
# Configures and builds into ./build (or $BUILD_DIR); extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build_dir" "$@"
cmake --build "$build_dir" -j "$jobs"
