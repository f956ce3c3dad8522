#!/usr/bin/env python3
"""Times corvane against plain copies of the same recording.

Generates a broadcast-like recording of at least --size-mb MB with the project's generator
(several joints, a 33-bit wrap, two audio streams, captions; once with the PCR on its own PID
and once on the video PID), warms the page cache, then runs, alternately and --runs times each:
`cat src > dst`, two copies through user space (`dd bs=256K` and `dd bs=1M`), corvane, and
corvane with the time log on; then, through pipes, `cat src | cat > dst` and
`cat src | corvane - - > dst`; and corvane -services all and corvane -joints clean on the same
recording, each with its ratio to corvane in each round; and, held to one processor with `taskset -c 0`, corvane and
`dd bs=256K` (and with --baseline, another build of corvane, both ways, for a before and after
in the same run). Before each run the destination is removed and the disk synced, so
that no run pays for the write-back of the one before, and each round takes the commands in a
new order. At the end a multiplex of 16 services is repaired, for the peak memory. Prints, for each, the median wall,
user and system seconds, throughput and peak resident memory, and the ratios to cat and to the
floor, the faster of the two dd copies; for corvane also the median of the ratios of each round
(its run against the faster dd, and against `dd bs=256K`, of the same round), which the
machine's drift between rounds does not move, with their spread, and its best run against the
best `dd bs=256K`; and for the pipe the ratio to `cat | cat`. Where ffmpeg is installed, a
stream-copy remux is timed as well. Where strace is installed, one more run of corvane under it
(all of its threads) shows the sizes of its reads and writes, and whether each lies at an
offset that is a multiple of its size. Last, the same recording in 188, 192 and 204-byte packets
(make_sample --packet-size) is repaired in turns, for the time per byte of each framing against
188 bytes.

GNU cat (coreutils 9 and later) copies with copy_file_range, inside the kernel: one copy of
the data where any program that looks at the packets needs two (read and write), so the
user-space copy is the closer measure of what a rewrite can reach.
"""
import argparse
import os
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SECONDS_PER_GB = 540          # with 330 video packets per frame the generator makes ~1.9 MB/s
PACKETS_PER_FRAME = 330       # about 15 Mbit/s of video, as broadcasts carry


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


def user_space_copy(source, destination, block):
    return run(["dd", f"if={source}", f"of={destination}", f"bs={block}", "status=none"],
               destination)


def pipeline(source, command, destination):
    """`cat source | command > destination`, timed as one; the peak memory is that of the
    largest process in it."""
    line = f"cat {shlex.quote(source)} | {command} > {shlex.quote(destination)}"
    return run(["sh", "-c", line], destination)


def call_sizes(corvane, source, output, work):
    """Runs corvane once under strace, all of its threads, and prints how many reads and writes
    of each size it made on the source and the destination, and how many of them did not lie at
    a multiple of their requested size or did not request a power of two."""
    folder = os.path.join(work, "strace")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if os.path.exists(output):
        os.remove(output)
    subprocess.run(["strace", "-ff", "-e", "trace=openat,read,write", "-e", "signal=none", "-o",
                    os.path.join(folder, "trace"), corvane, source, output],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    files = {}          # descriptor -> "source" or "destination"
    offsets = {}
    counts = {}
    unaligned = 0
    # One file per thread, in the order they were started: the survey's read on the main thread
    # comes before those of the reader, and each file is only ever read or written by one thread
    # at a time.
    traces = sorted(os.listdir(folder), key=lambda name: int(name.rsplit(".", 1)[1]))
    for trace in traces:
        with open(os.path.join(folder, trace)) as lines:
            for line in lines:
                name, _, rest = line.partition("(")
                if name == "openat":
                    path = rest.split('"')[1]
                    descriptor = rest.rsplit("= ", 1)[-1].strip()
                    for role, named in (("source", source), ("destination", output)):
                        if os.path.basename(path) == os.path.basename(named):
                            files[descriptor] = role
                            offsets[descriptor] = 0
                    continue
                if name not in ("read", "write"):
                    continue
                descriptor = rest.split(",", 1)[0]
                if descriptor not in files:
                    continue
                requested = int(rest.rsplit(",", 1)[1].split(")")[0])
                moved = int(rest.rsplit("= ", 1)[-1].split()[0])
                at = offsets[descriptor]
                # The survey's first read and the end-of-file probe behind a short read are not
                # the pass's own.
                first_block = name == "read" and at == 0
                if not first_block and moved > 0 and (requested & (requested - 1) or at % requested):
                    unaligned += 1
                key = (name, files[descriptor], requested)
                counts[key] = counts.get(key, 0) + 1
                offsets[descriptor] = at + max(moved, 0)
    shutil.rmtree(folder)
    print(f"corvane's calls (strace, {len(traces)} threads):", ", ".join(
        f"{name} {role} {size}: {count}" for (name, role, size), count in
        sorted(counts.items(), key=lambda item: (item[0][0], -item[1]))))
    print(f"  calls after the survey's block that are not a power of two at a multiple of it: "
          f"{unaligned}")


def spread(ratios):
    """The median of a list of ratios, with its quartiles and extremes."""
    q1, median, q3 = statistics.quantiles(ratios, n=4) if len(ratios) > 1 else ratios * 3
    return (f"{median:.2f} (quartiles {q1:.2f} to {q3:.2f}, all {min(ratios):.2f} to "
            f"{max(ratios):.2f})")


def summary(name, samples, size, references=()):
    wall = statistics.median(s[0] for s in samples)
    user = statistics.median(s[1] for s in samples)
    system = statistics.median(s[2] for s in samples)
    rss = max(s[3] for s in samples)
    line = (f"{name:<18} wall {wall:6.3f} s (best {min(s[0] for s in samples):5.3f})  "
            f"user {user:5.2f} s  sys {system:5.2f} s  "
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
    samples = {"cat": [], "dd 256K": [], "dd 1M": [], "corvane": [], "corvane -log on": [],
               "corvane -services all": [], "corvane -joints clean": [], "cat | cat": [],
               "cat | corvane": [],
               "dd 256K, 1 core": [], "corvane, 1 core": [], "baseline": [],
               "baseline, 1 core": []}
    one_core = ["taskset", "-c", "0"]

    def checked(what, result):
        if result[4] != 1:
            sys.exit(f"{what} failed with status {result[4]}")
        return result

    def corvane(argv, destination):
        return checked(" ".join(argv), run(argv, destination))

    def corvane_piped():
        return checked("cat | corvane - -",
                       pipeline(source, f"{shlex.quote(args.corvane)} - -", output))

    commands = [
        ("cat", lambda: cat(source, copy)),
        ("dd 256K", lambda: user_space_copy(source, copy, 256 * 1024)),
        ("dd 1M", lambda: user_space_copy(source, copy, 1024 * 1024)),
        ("corvane", lambda: corvane([args.corvane, source, output], output)),
        ("corvane -log on", lambda: corvane([args.corvane, "-log", "on", source, output], output)),
        ("corvane -services all",
         lambda: corvane([args.corvane, "-services", "all", source, output], output)),
        ("corvane -joints clean",
         lambda: corvane([args.corvane, "-joints", "clean", source, output], output)),
        ("cat | cat", lambda: pipeline(source, "cat", copy)),
        ("cat | corvane", corvane_piped),
        ("dd 256K, 1 core", lambda: run(one_core + ["dd", f"if={source}", f"of={copy}",
                                                     "bs=256K", "status=none"], copy)),
        ("corvane, 1 core", lambda: corvane(one_core + [args.corvane, source, output], output)),
    ]
    if args.baseline:
        commands += [
            ("baseline", lambda: corvane([args.baseline, source, output], output)),
            ("baseline, 1 core",
             lambda: corvane(one_core + [args.baseline, source, output], output)),
        ]
    # A new order in each round: this machine slows down for stretches of seconds, which would
    # otherwise fall on the same command round after round.
    order = random.Random(16)
    for _ in range(args.runs):
        order.shuffle(commands)
        for name, command in commands:
            samples[name].append(command())
    by_cat = summary("cat", samples["cat"], size)
    by_256k = summary("dd bs=256K", samples["dd 256K"], size, [("cat", by_cat)])
    by_1m = summary("dd bs=1M", samples["dd 1M"], size, [("cat", by_cat)])
    references = [("cat", by_cat), ("floor", min(by_256k, by_1m))]
    floors = [min(a[0], b[0]) for a, b in zip(samples["dd 256K"], samples["dd 1M"])]
    def against(name, reference):
        """The paired ratios of `name` to `reference` in each round, and their best runs'."""
        ratios = [a[0] / b[0] for a, b in zip(samples[name], samples[reference])]
        best = min(a[0] for a in samples[name]) / min(b[0] for b in samples[reference])
        print(f"{'':<18} / {reference}: paired {spread(ratios)}; best runs {best:.2f}")

    for name in ("corvane", "corvane -log on", "corvane -services all", "corvane -joints clean",
                 "baseline"):
        if not samples[name]:
            continue
        summary(name, samples[name], size, references)
        paired = statistics.median(s[0] / floor for s, floor in zip(samples[name], floors))
        print(f"{'':<18} paired: median of each round's {name} / faster dd = {paired:.2f}")
        against(name, "dd 256K")
    for name, against_what in (("-services all", "-services one"),
                               ("-joints clean", "-joints classic")):
        paired = statistics.median(a[0] / b[0] for a, b in
                                   zip(samples["corvane " + name], samples["corvane"]))
        best = min(s[0] for s in samples["corvane " + name]) / min(
            s[0] for s in samples["corvane"])
        print(f"{'':<18} {name} / {against_what}: median of the rounds {paired:.2f}, "
              f"best runs {best:.2f}")
    by_pipe = summary("cat | cat", samples["cat | cat"], size)
    summary("cat | corvane - -", samples["cat | corvane"], size, [("cat|cat", by_pipe)])
    against("cat | corvane", "cat | cat")
    print("held to one processor (taskset -c 0):")
    summary("dd bs=256K", samples["dd 256K, 1 core"], size)
    for name in ("corvane, 1 core", "baseline, 1 core"):
        if samples[name]:
            summary(name.split(",")[0], samples[name], size)
            against(name, "dd 256K, 1 core")
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
    if shutil.which("strace"):
        call_sizes(args.corvane, source, output, work)
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
    parser.add_argument("--baseline", default=None,
                        help="another build of corvane to time in the same rounds")
    args = parser.parse_args()
    args.corvane = os.path.abspath(os.path.join(args.build, "corvane"))
    if args.baseline:
        args.baseline = os.path.abspath(args.baseline)
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
    # Memory with many services: a multiplex of 16.
    source = os.path.join(work, "services.ts")
    output = os.path.join(work, "out.ts")
    subprocess.run([os.path.join(args.build, "make_sample"), source, "--seconds", str(seconds // 4),
                    "--packets-per-frame", str(PACKETS_PER_FRAME), "--services", "16"],
                   check=True, stdout=subprocess.DEVNULL)
    print(f"\n== 16 services: {os.path.getsize(source) / 1e9:.3f} GB")
    runs = [run([args.corvane, "-services", "all", source, output], output)
            for _ in range(max(1, args.runs // 2))]
    if any(r[4] != 1 for r in runs):
        sys.exit(f"corvane -services all failed with status {runs[0][4]}")
    summary("corvane -services all", runs, os.path.getsize(source))
    for name in (source, output):
        os.remove(name)

    # The time per byte of each framing, in paired rounds against 188-byte packets.
    print(f"\n== packet sizes: the same recording of {seconds // 2} s in each, {args.runs} rounds")
    sources = {}
    for size in (188, 192, 204):
        sources[size] = os.path.join(work, f"framed-{size}.ts")
        subprocess.run([os.path.join(args.build, "make_sample"), sources[size], "--seconds",
                        str(seconds // 2), "--packets-per-frame", str(PACKETS_PER_FRAME),
                        "--packet-size", str(size)], check=True, stdout=subprocess.DEVNULL)
        cat(sources[size], os.devnull)
    per_byte = {size: [] for size in sources}
    order = random.Random(204)
    for _ in range(args.runs):
        sizes = list(sources)
        order.shuffle(sizes)
        for size in sizes:
            result = run([args.corvane, sources[size], output], output)
            if result[4] != 1:
                sys.exit(f"corvane on {size}-byte packets failed with status {result[4]}")
            per_byte[size].append(result[0] / os.path.getsize(sources[size]))
    for size in (192, 204):
        ratios = [a / b for a, b in zip(per_byte[size], per_byte[188])]
        print(f"{size}-byte packets: time per byte / 188-byte packets: paired {spread(ratios)}; "
              f"best runs {min(per_byte[size]) / min(per_byte[188]):.2f}")
    for name in list(sources.values()) + [output]:
        os.remove(name)


if __name__ == "__main__":
    main()
