#!/usr/bin/env bash
# Installs with apt-get what a fresh machine lacks for the given purpose:
#   build  - compiler, CMake, GoogleTest
#   bench  - also GNU time, which the benchmark measures with, and strace for the call sizes
#   deb    - also what the Debian package is built with: dpkg-shlibdeps and file
#   zip    - also MinGW-w64, for the Windows build the zip is made of
#   arm64  - also the arm64 cross compiler, GoogleTest for arm64 and qemu-user, with Debian's
#            arm64 C and C++ runtime, which the emulated tests and dpkg-shlibdeps use
#   deb-arm64 - what deb and arm64 need
#   full   - also what the complete check needs: clang-format, clang with its sanitizer and
#            fuzzer runtime, Google Benchmark, MinGW-w64 for the Windows build and Wine to test it,
#            the locale sources that the console test makes a EUC-JP locale from, and what
#            the packages are built and checked with: lintian, groff, mandoc, unzip; and ffmpeg
#            with ffprobe and Python, which make and read the H.264 and HEVC test recordings; GNU
#            parallel, which a recipe runs; Chromium, which draws the picture of -plot
set -euo pipefail
purpose=${1:-build}
packages=(cmake g++ libgtest-dev)
if [ "$purpose" = bench ]; then
  packages+=(time strace)
fi
if [ "$purpose" = deb ] || [ "$purpose" = deb-arm64 ]; then
  packages+=(dpkg-dev file)
fi
arm64=(crossbuild-essential-arm64 qemu-user libgtest-dev:arm64 libc6:arm64 libstdc++6:arm64
  libgcc-s1:arm64)
if [ "$purpose" = arm64 ] || [ "$purpose" = deb-arm64 ]; then
  packages+=("${arm64[@]}")
fi
if [ "$purpose" = zip ]; then
  packages+=(g++-mingw-w64-x86-64)
fi
if [ "$purpose" = full ]; then
  packages+=(clang-format clang libclang-rt-14-dev libbenchmark-dev g++-mingw-w64-x86-64 wine wine64
    locales dpkg-dev file lintian groff-base mandoc unzip ffmpeg python3 parallel chromium
    "${arm64[@]}")
fi
# Installed for the machine's own architecture (or for all), or for the one after the colon. A
# bare name is looked up among all of its instances, since `dpkg -s` refuses a name that is
# installed for two architectures.
installed() {
  local name=${1%%:*} architecture=${1#*:}
  [ "$architecture" != "$1" ] || architecture=$(dpkg --print-architecture)
  dpkg-query -W -f='${db:Status-Abbrev} ${Architecture}\n' "$name" 2>/dev/null |
    grep -qE "^ii +($architecture|all)\$"
}
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  # The arm64 packages come from Debian's multiarch archive once dpkg knows the architecture.
  if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
