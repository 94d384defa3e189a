#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" xvfb xauth x11-utils \
  desktop-file-utils appstream dpkg-dev file lintian
build -DBUILD_TESTING=ON
cd "$BUILD_DIR"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
