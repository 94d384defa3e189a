#!/usr/bin/env bash
# Debian's package checker finds no error in the package (warnings are printed, not failed).
# Usage: deb_lintian.sh <folder with the .deb>
set -u
if ! command -v lintian >/dev/null; then
  echo "lintian is not installed; skipping"
  exit 77
fi
debs=("$1"/*.deb)
# package_deb_build reports a build that failed; it skips when the tools are missing.
[ -f "${debs[0]}" ] || { echo "no package was built in $1; skipping"; exit 77; }
lintian --fail-on error --display-info "${debs[@]}" || { echo "FAIL: lintian found errors"; exit 1; }
echo "PASS"
