#!/usr/bin/env bash
# Installs what the build needs, builds, makes the default database when there is none, and runs
# the program on it, shown ("SHOW"); it lives on in the notification area until "&Quitter".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}

# The default database directory; its parent folder holds the error log and is the folder the
# program updates itself from.  A directory without tables gets the six tables and the first user
# (the login, or MIRVEL_LOGIN), and becomes the registered database unless the registry already
# names an existing one.
database=${XDG_DATA_HOME:-$HOME/.local/share}/mirvel/Base
if ! compgen -G "$database/*.DAT" >/dev/null; then
  "$build_dir/app/mirvel-initdb" --register "$database"
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: no graphical display (DISPLAY and WAYLAND_DISPLAY are not set): mirvel is a" >&2
  echo "desktop program; start this command inside a desktop session." >&2
  exit 1
fi
exec "$build_dir/app/mirvel" SHOW
