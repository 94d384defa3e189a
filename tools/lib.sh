# Shared by start.sh and test.sh: install what is missing, then build.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

# Installs the Debian packages of the list that are not installed yet (as root, or with sudo).
install_missing() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local run_as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "These packages are missing and this is not root: ${missing[*]}" >&2
      echo "Run this command as root, or install them first." >&2
      exit 1
    fi
    run_as_root=(sudo)
  fi
  "${run_as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${run_as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# mdbtools-dev reads the Jet files of schedules from Windows; python3 writes them for the tests;
# dbus gives the notification tests a session bus of their own (dbus-run-session).
BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-svg-dev qt6-translations-l10n libsqlite3-dev
                qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools
                libsystemd-dev libfontconfig-dev sqlite3 fonts-wqy-microhei mdbtools-dev python3
                dbus)
# The sanitizer build and the fuzz targets: clang with its sanitizer and libFuzzer runtimes.
SANITIZE_PACKAGES=(clang libclang-rt-dev)
SANITIZE_BUILD_DIR=${SANITIZE_BUILD_DIR:-$ROOT/build-sanitize}

build() {
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

# The database the program was built to open.
database_path() {
  sed -n 's/^VANTREL_DATABASE_PATH:FILEPATH=//p' "$BUILD_DIR/CMakeCache.txt"
}
