#!/usr/bin/env bash
# Checks the format, builds everything with warnings as errors and runs every test: the Linux
# build, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded pass
# under ThreadSanitizer, a minute of fuzzing, the Windows build under Wine, the arm64 build under
# qemu-user, and the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash tools/install-deps.sh full
# The house style (.clang-format); `clang-format -i` on the files it names puts them right.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
# The H.264 and HEVC test needs ffmpeg, installed above: it fails here rather than being skipped.
# The recordings it makes are kept for the next builds' runs of it.
export CORVANE_NEED_FFMPEG=1 CORVANE_NEED_CHROMIUM=1 CORVANE_VIDEO_MATERIAL=$PWD/build/video-material
ctest --test-dir build --output-on-failure -j"$jobs"
# The microbenchmark runs briefly, so that it cannot rot; its timings are not checked.
./build/rewrite_bench --benchmark_min_time=0.01

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON \
  >/dev/null
cmake --build build-asan -j"$jobs" --target corvane corvane_tests
ctest --test-dir build-asan --output-on-failure -j"$jobs"

# The pass with its reader and writer on threads of their own, under ThreadSanitizer: the scripted
# pass test, with random delays in both threads, for a thousand rounds.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TSAN=ON -DCORVANE_WERROR=ON \
  >/dev/null
cmake --build build-tsan -j"$jobs" --target corvane_tests
CORVANE_PASS_ROUNDS=1000 TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/corvane_tests \
  --gtest_filter='PassInPieces.*'

# The fuzz target for a bounded time: first on the committed corpus of small recordings, many
# runs a second; then across blocks, with the seeds of three blocks and more made here and inputs
# as long allowed. New inputs go to a scratch folder.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_WERROR=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target rewrite_fuzzer
scratch=$(mktemp -d)
mkdir "$scratch/small" "$scratch/blocks" "$scratch/large"
./build/make_fuzz_seeds "$scratch/large" --large
fuzz() {
  local seconds=$1 name=$2
  shift 2
  local status=0
  ./build-fuzz/rewrite_fuzzer -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$@" >"$scratch/$name.log" 2>&1 || status=$?
  echo "fuzzing, $name:"
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|(INITED|DONE) +cov:|ERROR|SUMMARY' \
    "$scratch/$name.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$scratch/$name.log"
    echo "the fuzzer found a fault (status $status)"
    exit 1
  fi
}
fuzz "${FUZZ_SECONDS:-60}" small "$scratch/small" tests/fuzz/corpus
fuzz "${FUZZ_BLOCK_SECONDS:-30}" blocks -max_len=8000000 "$scratch/blocks" tests/fuzz/corpus \
  "$scratch/large"
rm -rf "$scratch"

# The Windows executable, cross-built with MinGW-w64, and the whole suite again under Wine.
export WINEDEBUG=-all
# A fresh Wine prefix would otherwise offer to fetch Mono and Gecko, which no test needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_WERROR=ON >/dev/null
cmake --build build-win -j"$jobs"
# A test that fails is run once more: now and then Wine drops a client ("wine client error:0:
# recvmsg: Connection reset by peer") when its server exits just as a test starts. A fault of
# the tool fails both runs, and the Linux runs above take no second chance.
ctest --test-dir build-win --output-on-failure -j"$jobs" --repeat until-pass:2

# The arm64 build, cross-built with Debian's arm64 cross compiler, and the whole suite again under
# user-mode emulation (qemu-user), which also starts the cross-built tool for the end-to-end tests.
# The fuzz target and the microbenchmark stay x86-64.
cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON >/dev/null
cmake --build build-arm64 -j"$jobs" --target corvane corvane_tests
ctest --test-dir build-arm64 --output-on-failure -j"$jobs"

# The release packages, each built by its one command, then checked as a user meets them.
bash tools/package.sh deb >/dev/null
bash tools/package.sh deb-arm64 >/dev/null
bash tools/package.sh zip >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-deb/CMakeCache.txt)
zip=build-zip/Corvane-${version}-win64.zip
fail() {
  echo "package check: $*"
  exit 1
}
scratch=$(mktemp -d)
mkdir "$scratch/tree" "$scratch/zip"
./build/make_sample "$scratch/tree/sample.ts" >/dev/null
cp "$scratch/tree/sample.ts" "$scratch/zip/"
./build/corvane -nogop off -pmtcheck off -log on "$scratch/tree/sample.ts" </dev/null >/dev/null ||
  true

# A .deb and its architecture, with the words that run its tool after them (an emulator for a
# foreign one): its fields and files, lintian, its manual page, and the unpacked tool on the sample.
check_deb() {
  local deb=$1 architecture=$2
  shift 2
  local unpacked=$scratch/$architecture
  mkdir "$unpacked" "$unpacked/root" "$unpacked/home"
  cp "$scratch/tree/sample.ts" "$unpacked/"
  for field in Package=corvane "Version=$version" "Architecture=$architecture" Section=video; do
    [ "$(dpkg-deb -f "$deb" "${field%%=*}")" = "${field#*=}" ] || fail "$deb: not $field"
  done
  dpkg-deb -f "$deb" Depends | grep -q '^libc6 ' || fail "$deb: no Depends from dpkg-shlibdeps"
  dpkg-deb -f "$deb" Maintainer | grep -q '<.*@.*>' || fail "$deb: no Maintainer"
  [ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 5 ] || fail "$deb: no long Description"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$unpacked/contents"
  diff -u - "$unpacked/contents" <<'LIST' || fail "$deb: other files than these"
./usr/bin/corvane
./usr/share/doc/corvane/LICENSE
./usr/share/doc/corvane/README.md
./usr/share/doc/corvane/changelog.gz
./usr/share/doc/corvane/copyright
./usr/share/man/man1/corvane.1.gz
LIST
  lintian --fail-on error,warning "$deb" || fail "$deb: lintian"

  # Unpacked, not installed: the manual page reads without a fault, and run with a HOME of its
  # own, the tool makes its settings file there, and log='on' in it takes effect.
  dpkg -x "$deb" "$unpacked/root"
  local manual="$unpacked/root/usr/share/man/man1/corvane.1.gz"
  { zcat "$manual" | groff -man -ww -z 2>&1 && zcat "$manual" | mandoc -T lint 2>&1; } |
    tee "$unpacked/lint"
  [ ! -s "$unpacked/lint" ] || fail "$deb: the manual page has faults"
  local tool=("$@" "$unpacked/root/usr/bin/corvane" "$unpacked/sample.ts")
  HOME="$unpacked/home" "${tool[@]}" </dev/null >/dev/null || true
  local settings="$unpacked/home/.config/corvane/corvane.ini"
  printf "[Default]\r\nnogop='off'\r\npmtcheck='off'\r\nlog='off'\r\n" | cmp - "$settings" ||
    fail "$deb: no settings file under HOME"
  sed -i "s/log='off'/log='on'/" "$settings"
  HOME="$unpacked/home" "${tool[@]}" </dev/null >/dev/null || true
  cmp "$unpacked/sample.000.ts" "$scratch/tree/sample.000.ts" || fail "$deb: other output"
  cmp "$unpacked/sample_Time.log" "$scratch/tree/sample_Time.log" || fail "$deb: other time log"
  [ -z "$(find "$unpacked/root" -name '*.ini')" ] || fail "$deb: a settings file beside the tool"
}
native=$(dpkg --print-architecture)
check_deb "build-deb/corvane_${version}_$native.deb" "$native"
check_deb "build-deb-arm64/corvane_${version}_arm64.deb" arm64 qemu-aarch64 -L /

# The zip holds the three files, the executable its version, and it runs as it is unpacked.
unzip -Z1 "$zip" | sort | diff -u - <(printf '%s\n' "Corvane-$version-win64/"{Corvane.exe,LICENSE,README.md}) ||
  fail "$zip: other files than these"
unzip -q "$zip" -d "$scratch/zip"
x86_64-w64-mingw32-windres -i "$scratch/zip/Corvane-$version-win64/Corvane.exe" -O rc |
  grep -q "VALUE \"ProductVersion\", \"$version\"" || fail "$zip: no version resource"
wine "$scratch/zip/Corvane-$version-win64/Corvane.exe" -log on "$scratch/zip/sample.ts" \
  </dev/null >/dev/null 2>&1 || true
cmp "$scratch/zip/sample.000.ts" "$scratch/tree/sample.000.ts" || fail "$zip: other output"
cmp "$scratch/zip/sample_Time.log" "$scratch/tree/sample_Time.log" || fail "$zip: other time log"
rm -rf "$scratch"
echo "packages: the amd64 and arm64 .deb and $zip checked"
