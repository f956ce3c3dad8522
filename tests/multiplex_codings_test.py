#!/usr/bin/env python3
"""Whole transport streams that ffmpeg multiplexes (-program), joined from stretches with jumps
and a 33-bit wrap, repaired with -services all and read back by ffprobe and ffmpeg: three programs
(MPEG-2 with MPEG-1 audio, H.264 at 15 frames/s with AAC in LATM, HEVC with AC-3), and one program
with AC-3 as a private stream with its descriptor (System B). Checked as video_codings_test.py
checks one service, per service: packets in place, decode times rising, frames as the source's,
joints and the wrap in the time log under the program's number. The three programs once more
with each stretch's audio begun half a second before its video, repaired with -joints clean:
every timestamp of a stretch, audio and video, moves by the same amount. Usage and skipping as
there."""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from video_codings_test import (PACKET, STRETCH_CLOCKS, STRETCH_SECONDS, WRAP,  # noqa: E402
                                frame_hashes, masked, probe, run, run_checks)

# (program number, video PID, audio PIDs, frame rate, video encoder, audio encoders)
MULTIPLEX = [
    (1024, 0x100, [0x101], "30000/1001", ["mpeg2video", "-b:v", "1M"], ["mp2"]),
    (1032, 0x102, [0x103], "15", ["libx264", "-preset", "veryfast", "-bf", "0", "-g", "15"],
     ["aac"]),
    (1040, 0x104, [0x105], "60000/1001",
     ["libx265", "-preset", "ultrafast", "-x265-params", "log-level=error:bframes=2", "-g", "30"],
     ["ac3"]),
]
ONE_SERVICE = [
    (1, 0x100, [0x101, 0x102], "30000/1001", ["mpeg2video", "-b:v", "1M"], ["mp2", "ac3"]),
]
# name, services, ffmpeg's flags, the joints the tool makes, and how long each stretch's audio
# begins before its video (so that it comes first in the file)
RECORDINGS = [("programs", MULTIPLEX, ["-mpegts_flags", "latm"], "classic", 0),
              ("private-ac3", ONE_SERVICE, ["-mpegts_flags", "system_b"], "classic", 0),
              ("programs-clean", MULTIPLEX, ["-mpegts_flags", "latm"], "clean", 0.5)]


def make_stretch(path, services, flags, clock, lead):
    inputs, maps, codecs, programs = [], [], [], []
    for k, (number, _, _, rate, video_encoder, audio_encoders) in enumerate(services):
        members = []
        sources = [f"testsrc2=size=320x240:rate={rate}"] + [
            f"sine=frequency={440 + 110 * (k + j)}:sample_rate=48000"
            for j in range(len(audio_encoders))]
        for source, encoder in zip(sources, [video_encoder] + [[e] for e in audio_encoders]):
            stream = len(maps) // 2
            if source.startswith("testsrc2") and lead:
                inputs += ["-itsoffset", str(lead)]
            inputs += ["-f", "lavfi", "-i", source]
            maps += ["-map", f"{stream}:0"]
            # Encoder options apply to this output stream only.
            codecs += [f"-c:{stream}", encoder[0]] + [
                f"{option.removesuffix(':v')}:{stream}" if i % 2 == 0 else option
                for i, option in enumerate(encoder[1:])]
            members.append(f"st={stream}")
        programs += ["-program", ":".join([f"program_num={number}"] + members)]
    run(["ffmpeg", "-v", "error", "-y", *inputs, "-t", str(STRETCH_SECONDS), *maps, *codecs,
         *programs, *flags, "-output_ts_offset", str(clock), "-f", "mpegts", path])


def check_recording(command, folder, name, services, flags, joints, lead):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(f"{name}: {what}")

    source = os.path.join(folder, f"{name}.ts")
    stretches = []
    with open(source, "wb") as out:
        for k, clock in enumerate(STRETCH_CLOCKS):
            path = os.path.join(folder, f"{name}-{k}.ts")
            make_stretch(path, services, flags, clock, lead)
            with open(path, "rb") as f:
                out.write(f.read())
            stretches.append({
                video: {"decode": [dts for _, dts in probe(path, f"i:{video}")],
                        "frames": frame_hashes(path, f"i:{video}"),
                        "timestamps": {pid: probe(path, f"i:{pid}") for pid in [video, *audio]}}
                for _, video, audio, *_ in services})

    result = subprocess.run([*command, "-services", "all", "-pmtcheck", "on", "-log", "on",
                             "-joints", joints, source],
                            cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=dict(os.environ, LC_ALL="C"))
    # The stretches were made apart, so each PID's counter starts afresh at every joint: drops.
    drops_only = re.fullmatch(re.escape("エラー 0, ドロップ ".encode("cp932")) + rb"\d+" +
                              re.escape(", スクランブル 0 パケット.\n".encode("cp932")), result.stderr)
    expect(result.returncode == 1 and drops_only is not None,
           f"status {result.returncode}, errors {result.stderr!r}")
    repaired = os.path.join(folder, f"{name}.000.ts")
    if result.returncode != 1:
        return failures
    with open(source, "rb") as f:
        before = f.read()
    with open(repaired, "rb") as f:
        after = f.read()
    expect(len(after) == len(before), f"length {len(after)}, source {len(before)}")
    timed = {pid for _, video, audio, *_ in services for pid in [video, *audio]}
    differing = [i for i in range(0, min(len(before), len(after)), PACKET)
                 if masked(before[i:i + PACKET], timed) != masked(after[i:i + PACKET], timed)]
    expect(not differing, f"packets changed beyond their timestamps: {differing[:5]}")

    with open(os.path.join(folder, f"{name}_Time.log"), "rb") as f:
        log = f.read()
    for number, video, *_ in services:
        decode = [dts for _, dts in probe(repaired, f"i:{video}")]
        expect(len(decode) == sum(len(s[video]["decode"]) for s in stretches),
               f"{number}: video packets lost")
        steps = [b - a for a, b in zip(decode, decode[1:])]
        expect(steps and 0 < min(steps) and max(steps) < 90000,
               f"{number}: decode times step by {min(steps, default=0)} to {max(steps, default=0)}")
        expected = [h for s in stretches for h in s[video]["frames"]]
        got = frame_hashes(repaired, f"i:{video}")
        expect(got == expected, f"{number}: {len(got)} frames decoded, "
               f"{sum(a != b for a, b in zip(got, expected))} unlike the source's {len(expected)}")
        if joints == "clean":
            # Every stream of a stretch, the audio that comes before its first picture included,
            # moves by the same amount (one tick less behind the wrap).
            at = {pid: 0 for pid in stretches[0][video]["timestamps"]}
            repaired_timestamps = {pid: probe(repaired, f"i:{pid}") for pid in at}
            for k, stretch in enumerate(stretches):
                shifts = set()
                for pid, before_pid in stretch[video]["timestamps"].items():
                    for (src_pts, src_dts), (pts, dts) in zip(
                            before_pid, repaired_timestamps[pid][at[pid]:]):
                        shifts.update((pts - src_pts, dts - src_dts))
                    at[pid] += len(before_pid)
                wrap = STRETCH_CLOCKS[k] * 90000 < WRAP < (STRETCH_CLOCKS[k] + 5) * 90000
                expect(max(shifts) - min(shifts) <= (1 if wrap else 0),
                       f"{number}, stretch {k + 1}: timestamps move by {sorted(shifts)[:4]}")
        mark = b"[%5d] " % number
        joints = log.count(mark + b"********* Joint GOP")
        wraps = log.count(mark + b"********* wrap around GOP")
        expect(joints == len(STRETCH_CLOCKS) - 1 and wraps == 1,
               f"{number}: {joints} joints and {wraps} wraps logged")
    return failures


def main():
    return run_checks(RECORDINGS, check_recording)


if __name__ == "__main__":
    sys.exit(main())
