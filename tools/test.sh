#!/usr/bin/env bash
# Installs what is missing, builds with every warning an error, checks that every source is
# formatted, and runs every test; then runs them all again in a clang build with
# AddressSanitizer and UndefinedBehaviorSanitizer, fuzzes the text parsers for a while, and runs
# the benchmarks once each (their figures are reported, never judged).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" "${SANITIZE_PACKAGES[@]}" clang-format xvfb xauth \
  x11-utils libx11-dev libxdamage-dev desktop-file-utils appstream dpkg-dev file lintian systemd
# The benchmarks are built here too, so that their quick run after the tests needs no build of
# its own.
build -DBUILD_TESTING=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DVANTREL_BUILD_BENCH=ON
# The format check (clang-format --dry-run --Werror over every source), then every test.
cmake --build "$BUILD_DIR" --target check

BUILD_DIR=$SANITIZE_BUILD_DIR build -DBUILD_TESTING=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_SANITIZE=address,undefined -DVANTREL_FUZZ=ON
# The package checks look at files, not at our code, and already ran in the first build; the
# crash test kills the runner, which leaves a sanitizer nothing to report, and takes minutes.
(cd "$SANITIZE_BUILD_DIR" &&
  ctest --output-on-failure --parallel "$(nproc)" --timeout 300 --exclude-regex '^(package_|tst_crash$)')
SANITIZE_BUILD_DIR=$SANITIZE_BUILD_DIR bash "$ROOT/tools/fuzz.sh" 30

bash "$ROOT/bench/run.sh" --quick --build-dir "$BUILD_DIR"
