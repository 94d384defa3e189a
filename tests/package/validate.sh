#!/usr/bin/env bash
# Runs a validator on a file; skips when the validator is not installed.
# Usage: validate.sh <Debian package of the validator> <validator command...> <file>
set -u
package=$1
shift
if ! command -v "$1" >/dev/null; then
  echo "$1 is not installed (Debian package $package); skipping"
  exit 77
fi
"$@"
status=$?
[ "$status" -eq 0 ] && echo "PASS" || echo "FAIL: $1 found errors"
exit "$status"
