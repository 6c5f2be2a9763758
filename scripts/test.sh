#!/usr/bin/env bash
# Sets up the machine, builds warning-free and runs every test; then builds the
# library and simulator tests with the address+undefined and thread sanitizers
# and runs them too; last, a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)

build_and_test() {
  local dir=$1
  shift
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" -G Ninja -DORVEX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $dir: test"
  # A test that fails is run once more, and the first failure stays in the log; a second
  # failure fails the run. No test is known to fail now and then: a failure that passes on its
  # retry is a fault to find from that log.
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2
}

# The Debian package of the plain build, extracted into a scratch root: its programs start from
# there (on the package's own libtavrin) and its tree holds what it must.
package_and_check() {
  local dir=$1
  echo "== $dir: Debian package"
  rm -f "$dir"/orvex_*.deb
  (cd "$dir" && cpack -G DEB >/dev/null)
  local deb root version libdir
  deb=$(echo "$dir"/orvex_*.deb)
  root=$(mktemp -d)
  dpkg-deb -x "$deb" "$root"
  version=$(dpkg-deb -f "$deb" Version)
  libdir=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  export LD_LIBRARY_PATH="$root/usr/$libdir"
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/orvex-cli" --help >/dev/null
  local said
  said=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/Orvex" --version)
  if [ "$said" != "Orvex $version" ]; then
    echo "the installed Orvex --version says '$said', not 'Orvex $version'" >&2
    exit 1
  fi
  unset LD_LIBRARY_PATH
  cmake -DROOT="$root" -DLIBDIR="$libdir" -DVERSION="$version" \
    -P tests/dist/check_install_tree.cmake
  rm -rf "$root"
  echo "$deb: installs and starts"
}

build_and_test build-ci -DCMAKE_INSTALL_PREFIX=/usr
package_and_check build-ci
# The sanitizer builds cover the library, the simulator, the widget-free engines and orvex-cli
# end to end; the desktop program's tests run in the plain build only. Qt is not built for
# ThreadSanitizer, so races inside Qt itself are suppressed (tests/tsan.supp); none of ours is.
build_and_test build-ci-asan -DORVEX_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug -DORVEX_GUI=OFF
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp"
build_and_test build-ci-tsan -DORVEX_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_GUI=OFF
# A short run of every fuzz target on its corpus (which replays the inputs of past findings);
# it needs clang, which scripts/setup.sh installs.
if command -v clang++ >/dev/null; then
  scripts/fuzz.sh --seconds 20 --jobs "$jobs"
fi
echo "== all tests passed"
