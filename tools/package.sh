#!/usr/bin/env bash
# Installs what is missing, then builds the Debian package in a build folder of its own
# (build-package/ in this folder, or $PACKAGE_DIR).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" dpkg-dev file
deb=$(bash "$ROOT/packaging/make-deb.sh" "$ROOT" "${PACKAGE_DIR:-$ROOT/build-package}")
echo "Built $deb"
echo "Install it with: sudo apt install $deb"
