#!/usr/bin/env bash
# Installs what the build needs, builds, makes the default database when there is none, and runs
# the program's main job.  Until the application's windows exist, the main job is the engine's
# and the application core's own checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)

# The default database directory; its parent folder holds the error log and is the folder the
# program updates itself from.  A directory without tables gets the six tables and the first user
# (the login, or MIRVEL_LOGIN), and becomes the registered database unless the registry already
# names an existing one.
database=${XDG_DATA_HOME:-$HOME/.local/share}/mirvel/Base
if ! compgen -G "$database/*.DAT" >/dev/null; then
  "$build_dir/app/mirvel-initdb" --register "$database"
fi

ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" -L 'engine-|app-core'
