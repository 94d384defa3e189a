#!/usr/bin/env bash
# Installs what is missing, builds, prepares the default database when there is none, and
# starts the program.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
build -DBUILD_TESTING=OFF

database=$(database_path)
if [ ! -e "$database" ]; then
  echo "Preparing the schedule database $database"
  mkdir -p "$(dirname "$database")"
  sqlite3 "$database" < "$ROOT/store/schema.sql"
  sqlite3 "$database" < "$ROOT/store/sample.sql"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "The program is built, but it is a desktop program and there is no display here." >&2
  echo "Start it from a desktop session, or under a virtual display:" >&2
  echo "  xvfb-run -a bash tools/start.sh   (Debian package xvfb)" >&2
  exit 1
fi
exec "$BUILD_DIR/app/vantrel-autorun"
