#!/usr/bin/env python3
"""Runs cut short by SIGINT and SIGTERM at random points of a 200 MB recording, named and piped.

Each run must end as a stop does: the destination holds whole blocks of the complete run's
output (cut back where it is a file), the report is in place with outcome stopped and reason
interrupted and the destination's size, the time log ends on a whole line, the source is as it
was, and the status is 128 and the signal's number (posix) or 1 (classic). A run the signal
reaches after its end is complete. A signal during the survey leaves nothing; a second signal
ends the tool at once.

Usage: cancel_test.py TOOL MAKE_SAMPLE [EMULATOR...]. Under Wine, only SIGINT (the console's
Ctrl-C) is sent.
"""

import hashlib
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

BLOCK = 2310144


def digest(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


def main():
    tool, make_sample, emulator = sys.argv[1], sys.argv[2], sys.argv[3:]
    wine = bool(emulator) and os.path.basename(emulator[0]).startswith("wine")
    signals = [signal.SIGINT] if wine else [signal.SIGINT, signal.SIGTERM]
    os.chdir(tempfile.mkdtemp())
    subprocess.run(emulator + [make_sample, "rec.ts", "--seconds", "108", "--packets-per-frame",
                               "330"], check=True, stdout=subprocess.DEVNULL)
    source = digest("rec.ts")

    def start(words, piped=False):
        for name in ("out.ts", "r.json", "rec_Time.log", "out_Time.log", "said"):
            if os.path.exists(name):
                os.remove(name)
        said = open("said", "wb")
        feed = open("rec.ts", "rb") if not piped else subprocess.PIPE
        run = subprocess.Popen(emulator + [tool, "-log", "on", "-report", "r.json"] + words,
                               stdin=feed, stdout=said, stderr=subprocess.DEVNULL)
        # The start line comes once the signals are caught.
        while os.path.getsize("said") == 0 and run.poll() is None:
            time.sleep(0.002)
        return run

    run = start(["-status", "posix", "rec.ts", "out.ts"])
    began = time.monotonic()
    run.wait()
    took = time.monotonic() - began
    os.rename("out.ts", "complete.ts")
    complete = digest("complete.ts")
    random.seed(39)
    for round in range(8):
        sig = signals[round % len(signals)]
        style = "classic" if round == 3 else "posix"
        piped = round % 4 == 2
        run = start(["-status", style, "-" if piped else "rec.ts", "out.ts"], piped)
        log = "out_Time.log" if piped else "rec_Time.log"
        if piped:
            with open("rec.ts", "rb") as f:
                while chunk := f.read(1 << 20):
                    run.stdin.write(chunk)
                    if f.tell() > 60 << 20:
                        run.send_signal(sig)
                        time.sleep(0.5)  # Wine hands Ctrl-C over on a thread of its own
                        break
            run.stdin.close()
        else:
            time.sleep(random.uniform(0, took))
            run.send_signal(sig)
        status = run.wait()
        with open("r.json") as f:
            report = f.read()
        size = os.path.getsize("out.ts")
        label = f"round {round}: {sig.name} {style} {'piped' if piped else 'named'}"
        assert not os.path.exists("r.json.tmp"), label
        assert digest("rec.ts") == source, label
        with open(log, "rb") as f:
            assert f.read()[-2:] in (b"", b"\r\n"), label
        if '"outcome": "complete"' in report:
            assert status == (0 if style == "posix" else 1), (label, status)
            assert digest("out.ts") == complete, label
            continue
        assert status == (128 + sig if style == "posix" else 1), (label, status)
        assert '"outcome": "stopped", "reason": "interrupted"' in report, label
        assert f'"destination": {size}}}' in report, label
        assert size % BLOCK == 0, (label, size)
        subprocess.run(["cmp", "-n", str(size), "out.ts", "complete.ts"], check=True)
        print(label, f"kept {size} bytes, status {status}")

    # During the survey: a piped source that holds back its first block.
    run = start(["-status", "posix", "-", "out.ts"], piped=True)
    with open("rec.ts", "rb") as f:
        run.stdin.write(f.read(1 << 20))
        run.stdin.flush()
        time.sleep(0.5)
        run.send_signal(signals[-1])
        try:  # the tool goes once it has its first block
            run.stdin.write(f.read(4 << 20))
            run.stdin.close()
        except BrokenPipeError:
            pass
    assert run.wait() == 128 + signals[-1]
    assert not any(os.path.exists(n) for n in ("out.ts", "r.json", "r.json.tmp", "out_Time.log"))

    if not wine:
        run = start(["-", "out.ts"], piped=True)
        for _ in range(2):
            run.send_signal(signal.SIGINT)
            time.sleep(0.3)
        assert run.wait() == -signal.SIGINT, "a second signal ends it at once"
        run.stdin.close()
    print("cancelled runs end as stops")


main()
