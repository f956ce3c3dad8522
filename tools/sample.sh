#!/usr/bin/env bash
# Builds the tool, makes the bundled sample recording and repairs it with the time log on, then
# shows what changed; the picture of the repair becomes doc/sample-plot.svg, which the README shows.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target corvane make_sample >/dev/null

mkdir -p build/sample
cd build/sample
cp ../corvane .
../make_sample sample.ts
# The console speaks the locale's character set; a locale without Japanese (the C locale of a
# bare machine) would leave the texts as code page 932 bytes, so UTF-8 is taken for this run.
case "$(locale charmap 2>/dev/null)" in
  ANSI_X3.4-1968 | "") export LC_ALL=C.UTF-8 ;;
esac
set +e
./corvane -log on -plot sample-plot.svg sample.ts </dev/null >console.txt 2>&1
status=$?
set -e
# The progress lines are dropped here.
tr '\r' '\n' <console.txt | grep -a -v ' [0-9]\{1,2\}% $'
echo "exit status: $status (1 is a complete run)"
echo
echo "== $(cmp -l sample.ts sample.000.ts | wc -l) of $(stat -c %s sample.ts) bytes changed; same length: $(stat -c %s sample.000.ts) bytes"
echo "== time log build/sample/sample_Time.log: first lines"
head -n 6 sample_Time.log
echo "== joints and the wrap"
grep -a -A2 -E 'Joint GOP|wrap around' sample_Time.log | tr -d '\r'
echo "== last lines"
tail -n 3 sample_Time.log
# The picture that the README shows.
cp sample-plot.svg ../../doc/sample-plot.svg
echo "== the picture: build/sample/sample-plot.svg (also doc/sample-plot.svg)"
