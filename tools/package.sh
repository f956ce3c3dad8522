#!/usr/bin/env bash
# Builds a release package (installs with apt-get what a fresh machine lacks):
#   deb       - build-deb/corvane_<version>_<architecture>.deb, from the Linux build, with the
#               settings file in the user's configuration folder
#   deb-arm64 - build-deb-arm64/corvane_<version>_arm64.deb, the same cross-built for arm64
#   zip       - build-zip/Corvane-<version>-win64.zip, from the Windows cross-build
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-}
folder=build-$kind
generator=DEB
# Debian's hardening flags (fortified functions, read-only relocations bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
debian_build() {
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DCORVANE_SETTINGS=user -DCORVANE_TESTS=OFF \
    -DCORVANE_WERROR=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@" >/dev/null
}
case "$kind" in
  deb)
    bash tools/install-deps.sh deb
    debian_build
    ;;
  deb-arm64)
    bash tools/install-deps.sh deb-arm64
    # With arm64 as the host architecture, dpkg-buildflags gives arm64's flags, and dpkg-shlibdeps
    # takes Depends from Debian's arm64 libraries (libc6:arm64 and the others that install-deps
    # puts in /usr/lib/aarch64-linux-gnu), read with aarch64-linux-gnu-objdump.
    export DEB_HOST_ARCH=arm64
    debian_build -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake --no-warn-unused-cli
    ;;
  zip)
    bash tools/install-deps.sh zip
    generator=ZIP
    cmake -S . -B "$folder" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
      -DCORVANE_TESTS=OFF -DCORVANE_WERROR=ON --no-warn-unused-cli >/dev/null
    ;;
  *)
    echo "usage: bash tools/package.sh deb|deb-arm64|zip" >&2
    exit 2
    ;;
esac
# cpack builds what it installs, then packs it.
(cd "$folder" && cpack -G "$generator" >/dev/null)
ls "$folder"/*."${generator,,}"
