#!/usr/bin/env bash
# Configures a build folder of its own for the Debian package, builds the program for the shared
# database with Debian's hardening flags, and makes the .deb there. Prints the package's path.
# Usage: make-deb.sh <source folder> <build folder>
set -euo pipefail
source_dir=$1 build_dir=$2

for tool in dpkg-buildflags dpkg-shlibdeps file; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed (Debian packages dpkg-dev and file)" >&2
    exit 1
  fi
done

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S "$source_dir" -B "$build_dir" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTREL_DATABASE_PATH=/var/lib/vantrel-autorun/ProgramRun.mdb \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" >&2
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB >&2)
ls "$build_dir"/*.deb
