#!/usr/bin/env bash
# Installs with apt-get what a fresh machine lacks for the given purpose:
#   build  - compiler, CMake, GoogleTest
#   bench  - also GNU time, which the benchmark measures with, and strace for the call sizes
#   deb    - also what the Debian package is built with: dpkg-shlibdeps and file
#   zip    - also MinGW-w64, for the Windows build the zip is made of
#   full   - also what the complete check needs: clang-format, clang with its sanitizer and
#            fuzzer runtime, Google Benchmark, MinGW-w64 for the Windows build and Wine to test it,
#            the locale sources that the console test makes a EUC-JP locale from, and what
#            the packages are built and checked with: lintian, groff, mandoc, unzip; and ffmpeg
#            with ffprobe and Python, which make and read the H.264 and HEVC test recordings
set -euo pipefail
purpose=${1:-build}
packages=(cmake g++ libgtest-dev)
if [ "$purpose" = bench ]; then
  packages+=(time strace)
fi
if [ "$purpose" = deb ]; then
  packages+=(dpkg-dev file)
fi
if [ "$purpose" = zip ]; then
  packages+=(g++-mingw-w64-x86-64)
fi
if [ "$purpose" = full ]; then
  packages+=(clang-format clang libclang-rt-14-dev libbenchmark-dev g++-mingw-w64-x86-64 wine wine64
    locales dpkg-dev file lintian groff-base mandoc unzip ffmpeg python3)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
