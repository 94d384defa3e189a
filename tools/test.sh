#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, then the benchmarks once each (their
# figures are reported, never judged).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" xvfb xauth x11-utils libx11-dev \
  desktop-file-utils appstream dpkg-dev file lintian
build -DBUILD_TESTING=ON
cd "$BUILD_DIR"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
bash "$ROOT/bench/run.sh" --quick
