#!/usr/bin/env bash
# Builds the Debian package in a folder of its own, as tools/package.sh does.
# Usage: deb_build.sh <source folder> <build folder>
set -u
for tool in dpkg-buildflags dpkg-shlibdeps file; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed (Debian packages dpkg-dev and file); skipping"
    exit 77
  fi
done
exec bash "$1/packaging/make-deb.sh" "$1" "$2"
