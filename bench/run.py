#!/usr/bin/env python3
"""Times corvane against plain copies of the same recording.

Generates a broadcast-like recording of at least --size-mb MB with the project's generator
(several joints, a 33-bit wrap, two audio streams, captions; once with the PCR on its own PID
and once on the video PID), warms the page cache, then runs, alternately and --runs times each:
`cat src > dst`, a copy through user space (`dd` with corvane's piece size, and `dd bs=256K`),
corvane, and corvane with the time log on; then, through pipes, `cat src | cat > dst` and
`cat src | corvane - - > dst`. Before each run the destination is removed and the disk synced,
so that no run pays for the write-back of the one before. Prints, for each, the median wall,
user and system seconds, throughput and peak resident memory, and the ratios to cat and to the
two user-space copies, and for the pipe the ratio to `cat | cat`. Where ffmpeg is installed, a stream-copy remux is timed as well.

GNU cat (coreutils 9 and later) copies with copy_file_range, inside the kernel: one copy of
the data where any program that looks at the packets needs two (read and write), so the
user-space copy is the closer measure of what a rewrite can reach.
"""
import argparse
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SECONDS_PER_GB = 540          # with 330 video packets per frame the generator makes ~1.9 MB/s
PACKETS_PER_FRAME = 330       # about 15 Mbit/s of video, as broadcasts carry
PIECE_BYTES = 288768          # what corvane reads and writes at a time (1,536 packets)


def run(argv, destination, stdout=subprocess.DEVNULL):
    """Runs a command under /usr/bin/time after removing `destination` and syncing.
    Returns (wall, user, sys, maxrss_kb, status)."""
    if destination != os.devnull and os.path.exists(destination):
        os.remove(destination)
    os.sync()
    with tempfile.NamedTemporaryFile("r") as report:
        status = subprocess.run(["/usr/bin/time", "-q", "-f", "%e %U %S %M", "-o", report.name]
                                + argv, stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=subprocess.DEVNULL).returncode
        wall, user, system, rss = report.read().split()[-4:]
    return float(wall), float(user), float(system), int(rss), status


def cat(source, destination):
    with open(destination, "wb") as out:
        return run(["cat", source], destination, stdout=out)


def user_space_copy(source, destination, block=PIECE_BYTES):
    return run(["dd", f"if={source}", f"of={destination}", f"bs={block}", "status=none"],
               destination)


def pipeline(source, command, destination):
    """`cat source | command > destination`, timed as one; the peak memory is that of the
    largest process in it."""
    line = f"cat {shlex.quote(source)} | {command} > {shlex.quote(destination)}"
    return run(["sh", "-c", line], destination)


def summary(name, samples, size, references=()):
    wall = statistics.median(s[0] for s in samples)
    user = statistics.median(s[1] for s in samples)
    system = statistics.median(s[2] for s in samples)
    rss = max(s[3] for s in samples)
    line = (f"{name:<18} wall {wall:6.3f} s  user {user:5.2f} s  sys {system:5.2f} s  "
            f"{size / wall / 1e6:7.1f} MB/s  peak RSS {rss / 1024:5.1f} MiB")
    for label, reference in references:
        line += f"  /{label} {wall / reference:5.2f}"
    print(line, flush=True)
    return wall


def bench_file(args, label, source, work):
    size = os.path.getsize(source)
    print(f"\n== {label}: {size / 1e9:.3f} GB, {args.runs} runs each, medians")
    for _ in range(2):  # warm the page cache
        cat(source, os.devnull)
    copy = os.path.join(work, "copy.ts")
    output = os.path.join(work, "out.ts")
    samples = {"cat": [], "copy": [], "dd 256K": [], "corvane": [], "corvane -log on": [],
               "cat | cat": [], "cat | corvane": []}
    for _ in range(args.runs):
        samples["cat"].append(cat(source, copy))
        samples["copy"].append(user_space_copy(source, copy))
        samples["dd 256K"].append(user_space_copy(source, copy, 256 * 1024))
        result = run([args.corvane, source, output], output)
        if result[4] != 1:
            sys.exit(f"corvane failed with status {result[4]}")
        samples["corvane"].append(result)
        samples["corvane -log on"].append(run([args.corvane, "-log", "on", source, output],
                                              output))
        samples["cat | cat"].append(pipeline(source, "cat", copy))
        result = pipeline(source, f"{shlex.quote(args.corvane)} - -", output)
        if result[4] != 1:
            sys.exit(f"cat | corvane - - failed with status {result[4]}")
        samples["cat | corvane"].append(result)
    by_cat = summary("cat", samples["cat"], size)
    by_copy = summary("user-space copy", samples["copy"], size, [("cat", by_cat)])
    by_dd = summary("dd bs=256K", samples["dd 256K"], size, [("cat", by_cat)])
    references = [("cat", by_cat), ("copy", by_copy), ("dd256K", by_dd)]
    summary("corvane", samples["corvane"], size, references)
    summary("corvane -log on", samples["corvane -log on"], size, references)
    by_pipe = summary("cat | cat", samples["cat | cat"], size)
    summary("cat | corvane - -", samples["cat | corvane"], size, [("cat|cat", by_pipe)])
    if shutil.which("ffmpeg"):
        remux = os.path.join(work, "ffmpeg.ts")
        runs = [run(["ffmpeg", "-loglevel", "quiet", "-y", "-i", source, "-map", "0", "-c", "copy",
                     "-f", "mpegts", remux], remux) for _ in range(max(1, args.runs // 2))]
        if all(r[4] == 0 for r in runs):
            summary("ffmpeg -c copy", runs, size, references)
        else:
            # The generated payloads are not decodable audio and video, which ffmpeg may need
            # to set up its output streams.
            print(f"ffmpeg -c copy     failed on this recording (status {runs[0][4]})")
    else:
        print("ffmpeg is not installed: no remux timed")
    for name in (copy, output, os.path.join(work, "ffmpeg.ts"),
                 os.path.splitext(source)[0] + "_Time.log"):
        if os.path.exists(name):
            os.remove(name)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-bench", help="folder with corvane and make_sample")
    parser.add_argument("--work", default=None, help="folder for the recordings (same disk)")
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    args.corvane = os.path.abspath(os.path.join(args.build, "corvane"))
    work = os.path.abspath(args.work or os.path.join(args.build, "work"))
    os.makedirs(work, exist_ok=True)
    seconds = max(120, int(SECONDS_PER_GB * args.size_mb / 1000))
    print(f"{time.strftime('%Y-%m-%d')}, {os.cpu_count()} cores, "
          f"{os.uname().sysname} {os.uname().release}, destination folder {work}")
    for label, extra in (("PCR on its own PID", []), ("PCR on the video PID", ["--pcr-on-video"])):
        source = os.path.join(work, "bench.ts")
        subprocess.run([os.path.join(args.build, "make_sample"), source, "--seconds",
                        str(seconds), "--packets-per-frame", str(PACKETS_PER_FRAME)] + extra,
                       check=True, stdout=subprocess.DEVNULL)
        bench_file(args, label, source, work)
        os.remove(source)


if __name__ == "__main__":
    main()
