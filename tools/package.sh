#!/usr/bin/env bash
# Builds a release package (installs with apt-get what a fresh machine lacks):
#   deb - build-deb/corvane_<version>_<architecture>.deb, from the Linux build, with the settings
#         file in the user's configuration folder
#   zip - build-zip/Corvane-<version>-win64.zip, from the Windows cross-build
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-}
case "$kind" in
  deb)
    bash tools/install-deps.sh deb
    # Debian's hardening flags (fortified functions, read-only relocations bound at start).
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCORVANE_SETTINGS=user -DCORVANE_TESTS=OFF \
      -DCORVANE_WERROR=ON \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
    ;;
  zip)
    bash tools/install-deps.sh zip
    cmake -S . -B build-zip -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
      -DCORVANE_TESTS=OFF -DCORVANE_WERROR=ON --no-warn-unused-cli >/dev/null
    ;;
  *)
    echo "usage: bash tools/package.sh deb|zip" >&2
    exit 2
    ;;
esac
# cpack builds what it installs, then packs it.
(cd "build-$kind" && cpack -G "${kind^^}" >/dev/null)
ls "build-$kind"/*."$kind"
