#!/usr/bin/env python3
"""H.264 and HEVC recordings made by ffmpeg, joined with jumps and a 33-bit wrap, repaired by the
tool and then read by ffprobe and ffmpeg, as a player or an editor would read them; one of them
in ffmpeg's M2TS mode, 192-byte packets with an arrival stamp before each.

For each recording it checks that
- the file keeps its length, and every packet its place and its bytes (stamps included), but for
  the continuity counter and the PCR, PTS and DTS fields;
- the video's decode times never step back, and rise by one frame period at every joint;
- within each stretch every video and audio timestamp moves by the same amount (one tick less
  behind the wrap, which the tool follows by 2^33 - 1);
- every frame decodes to the same picture as in the stretch's own source file (framemd5);
- the time log holds one joint per jump and one wrap, and the video counter skips one value at
  each joint only.

Usage: video_codings_test.py TOOL [EMULATOR...], with the command that runs a cross-built TOOL
after it. Without ffmpeg and ffprobe the test is skipped (status 77),
unless CORVANE_NEED_FFMPEG is set, as the full check sets it; the full check also sets
CORVANE_VIDEO_MATERIAL, so that its three builds share the recordings.
"""

import hashlib
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

PACKET = 188
WRAP = 1 << 33

# The source clock (seconds) at which each stretch starts: a forward jump, a forward jump into a
# stretch that crosses 2^33 ticks (95,443.7 s) after about 1.3 s, and a backward jump.
STRETCH_CLOCKS = [1000, 1300, 95441, 500]
STRETCH_SECONDS = 2

X265 = "log-level=error:bframes={}"
H264_BFRAMES = ["-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g", "30"]
# name, frame rate, encoder, and the bytes from one packet's start to the next
RECORDINGS = [
    # one-seg: 15 frames per second, no B-frames, so no PES carries a DTS
    ("h264-15", "15", ["-c:v", "libx264", "-preset", "veryfast", "-bf", "0", "-g", "15"]),
    ("h264-bframes-29.97", "30000/1001", H264_BFRAMES),
    ("h264-bframes-m2ts", "30000/1001", H264_BFRAMES, 192),
    ("hevc-59.94", "60000/1001",
     ["-c:v", "libx265", "-preset", "ultrafast", "-x265-params", X265.format(0), "-g", "30"]),
    ("hevc-bframes-29.97", "30000/1001",
     ["-c:v", "libx265", "-preset", "ultrafast", "-x265-params", X265.format(3), "-g", "30"]),
]


def run(arguments, **kwargs):
    return subprocess.run(arguments, check=True, stdout=subprocess.PIPE, **kwargs).stdout


def probe(path, streams):
    """(pts, dts) of every packet of the selected streams, as ffprobe reads them."""
    text = run(["ffprobe", "-v", "error", "-select_streams", streams, "-show_entries",
                "packet=pts,dts", "-of", "csv=p=0", path]).decode()
    return [[int(v) for v in line.split(",")[:2]] for line in text.split()]


def frame_hashes(path, stream="v"):
    """The MD5 of every decoded frame of the video stream, in output order."""
    text = run(["ffmpeg", "-v", "error", "-i", path, "-map", f"0:{stream}", "-fps_mode",
                "passthrough", "-f", "framemd5", "-"]).decode()
    return [line.split(",")[-1].strip() for line in text.splitlines() if not line.startswith("#")]


def make_stretch(path, rate, encoder, clock, size):
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", f"testsrc2=size=320x240:rate={rate}",
         "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", str(STRETCH_SECONDS),
         *encoder, "-c:a", "aac", "-b:a", "64k", "-output_ts_offset", str(clock),
         "-f", "mpegts", "-mpegts_m2ts_mode", "1" if size == 192 else "0", path])


def pid_of(packet):
    return (packet[1] & 0x1F) << 8 | packet[2]


def masked(packet, timed_pids):
    """The packet with the bytes the tool may change cleared: the counter, a PCR, and the PTS and
    DTS of a PES start of a timed stream."""
    p = bytearray(packet)
    p[3] &= 0xF0
    adaptation = p[3] & 0x20
    if adaptation and p[4] >= 7 and p[5] & 0x10:
        p[6:12] = bytes(6)
    if p[1] & 0x40 and p[3] & 0x10 and pid_of(p) in timed_pids:
        o = p[4] + 1 if adaptation else 0
        if 13 + o + 10 <= PACKET and p[4 + o:7 + o] == b"\0\0\1":
            p[13 + o:23 + o] = bytes(10)
    return bytes(p)


def make_recording(folder, name, rate, encoder, size):
    """The joined recording in the folder, and what ffprobe and ffmpeg read from each stretch's own
    file. With CORVANE_VIDEO_MATERIAL set, both are kept in that folder, under a name that holds
    ffmpeg's version and the recording's settings, and taken from there when they are."""
    key = hashlib.sha1(repr((run(["ffmpeg", "-version"]).splitlines()[0], rate, encoder,
                             STRETCH_CLOCKS, STRETCH_SECONDS, size)).encode()).hexdigest()[:12]
    store = os.environ.get("CORVANE_VIDEO_MATERIAL")
    kept = os.path.join(store, f"{name}-{key}") if store else None
    source = os.path.join(folder, f"{name}.ts")
    if kept and os.path.exists(os.path.join(kept, "stretches.json")):
        shutil.copy(os.path.join(kept, "source.ts"), source)
        with open(os.path.join(kept, "stretches.json")) as f:
            return source, json.load(f)

    stretches = []
    with open(source, "wb") as out:
        for k, clock in enumerate(STRETCH_CLOCKS):
            path = os.path.join(folder, f"{name}-{k}.ts")
            make_stretch(path, rate, encoder, clock, size)
            with open(path, "rb") as f:
                data = f.read()
            if k == 0:
                # ffmpeg puts an SDT ahead of the PAT; a broadcast recording begins with PAT and
                # PMT.
                assert pid_of(data[size - PACKET:size]) == 0x11
                data = data[size:]
                with open(path, "wb") as f:
                    f.write(data)
            out.write(data)
            stretches.append({
                "video": probe(path, "v"),
                "audio": probe(path, "a"),
                "frames": frame_hashes(path),
            })
    if kept:
        # Put in place whole, so that a run cut short leaves nothing half made.
        os.makedirs(store, exist_ok=True)
        partial = tempfile.mkdtemp(dir=store)
        shutil.copy(source, os.path.join(partial, "source.ts"))
        with open(os.path.join(partial, "stretches.json"), "w") as f:
            json.dump(stretches, f)
        try:
            os.rename(partial, kept)
        except OSError:
            shutil.rmtree(partial)  # another run put it there first
    return source, stretches


def check_recording(command, folder, name, rate, encoder, size=PACKET):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(f"{name}: {what}")

    source, stretches = make_recording(folder, name, rate, encoder, size)
    stamp = size - PACKET
    # ffmpeg's M2TS carries AAC as a private stream, on the PIDs of Blu-ray recordings: a whole
    # transport stream's service takes it as a timed stream of its own.
    services = ["-services", "all" if stamp else "one"]
    result = subprocess.run([*command, *services, "-nogop", "off", "-pmtcheck", "on", "-log", "on",
                             source],
                            cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=dict(os.environ, LC_ALL="C"))
    # The stretches were made apart, so each PID's counter starts afresh at every joint: drops.
    drops_only = re.fullmatch(re.escape("エラー 0, ドロップ ".encode("cp932")) + rb"\d+" +
                              re.escape(", スクランブル 0 パケット.\n".encode("cp932")), result.stderr)
    expect(result.returncode == 1 and drops_only is not None,
           f"status {result.returncode}, errors {result.stderr!r}")
    repaired = os.path.join(folder, f"{name}.000.ts")
    with open(source, "rb") as f:
        before = f.read()
    with open(repaired, "rb") as f:
        after = f.read()

    # Every packet in place.
    expect(len(after) == len(before), f"length {len(after)}, source {len(before)}")
    video_pid, audio_pid = (0x1011, 0x1100) if stamp else (0x100, 0x101)
    differing = [i for i in range(0, min(len(before), len(after)), size)
                 if before[i:i + stamp] != after[i:i + stamp]
                 or masked(before[i + stamp:i + size], {video_pid, audio_pid})
                 != masked(after[i + stamp:i + size], {video_pid, audio_pid})]
    expect(not differing, f"packets changed beyond their timestamps: {differing[:5]}")

    # The counter of the video PID skips one value at each joint, and nowhere else.
    skips = 0
    counter = None
    for i in range(stamp, len(after), size):
        p = after[i:i + PACKET]
        if pid_of(p) == video_pid and p[3] & 0x10:
            if counter is not None and p[3] & 0x0F != (counter + 1) % 16:
                skips += 1
            counter = p[3] & 0x0F
    joints = len(STRETCH_CLOCKS) - 1
    expect(skips == joints, f"{skips} counter skips on the video PID, {joints} joints")
    with open(os.path.join(folder, f"{name}_Time.log"), "rb") as f:
        log = f.read()
    expect(log.count(b"Joint GOP") == joints, f"{log.count(b'Joint GOP')} joints logged")
    expect(log.count(b"wrap around GOP") == 1, f"{log.count(b'wrap around GOP')} wraps logged")

    # Decode times: never back, one frame period across each joint.
    video = probe(repaired, "v")
    audio = probe(repaired, "a")
    expect(len(video) == sum(len(s["video"]) for s in stretches), "video packets lost")
    expect(len(audio) == sum(len(s["audio"]) for s in stretches), "audio packets lost")
    decode = [dts for _, dts in video]
    expect(all(b > a for a, b in zip(decode, decode[1:])), "a video decode time steps back")
    first = 0
    for k, stretch in enumerate(stretches[:-1]):
        last = first + len(stretch["video"]) - 1
        steps = [b[1] - a[1] for a, b in zip(stretch["video"], stretch["video"][1:])]
        period = statistics.median(steps)
        joint = decode[last + 1] - decode[last]
        expect(abs(joint - period) <= 1, f"joint {k + 1} steps by {joint}, frame period {period}")
        first = last + 1

    # One shift for all timestamps of a stretch, audio and video alike.
    video_at = audio_at = 0
    for k, stretch in enumerate(stretches):
        shifts = set()
        for (src_pts, src_dts), (pts, dts) in zip(stretch["video"], video[video_at:]):
            shifts.update((pts - src_pts, dts - src_dts))
        for (src_pts, _), (pts, _) in zip(stretch["audio"], audio[audio_at:]):
            shifts.add(pts - src_pts)
        video_at += len(stretch["video"])
        audio_at += len(stretch["audio"])
        allowed = 1 if STRETCH_CLOCKS[k] * 90000 < WRAP < (STRETCH_CLOCKS[k] + 5) * 90000 else 0
        expect(max(shifts) - min(shifts) <= allowed,
               f"stretch {k + 1}: timestamps move by {sorted(shifts)[:4]}")

    # Every frame decodes as in its own stretch.
    expected = [h for s in stretches for h in s["frames"]]
    got = frame_hashes(repaired)
    expect(got == expected, f"{len(got)} frames decoded, {sum(a != b for a, b in zip(got, expected))}"
           f" of them unlike the source's {len(expected)}")
    return failures


def run_checks(recordings, check):
    """Runs check(command, folder, *recording) for each recording with a copy of the tool given
    on the command line, and returns the exit status: 77 without ffmpeg."""
    tool = os.path.abspath(sys.argv[1])
    emulator = sys.argv[2:]
    if shutil.which("ffmpeg") is None or shutil.which("ffprobe") is None:
        print("ffmpeg and ffprobe are needed: bash tools/install-deps.sh full")
        return 1 if os.environ.get("CORVANE_NEED_FFMPEG") else 77
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        # A copy of the tool, so that its settings file is made here.
        shutil.copy(tool, folder)
        command = [*emulator, os.path.join(folder, os.path.basename(tool))]
        for recording in recordings:
            failures += check(command, folder, *recording)
    for failure in failures:
        print(failure)
    print(f"{len(recordings)} recordings, {len(failures)} failures")
    return 1 if failures else 0


def main():
    return run_checks(RECORDINGS, check_recording)


if __name__ == "__main__":
    sys.exit(main())
