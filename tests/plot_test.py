#!/usr/bin/env python3
"""The picture of -plot read back as its readers read it: parsed by xml.etree, where each
repaired service of the report must have its panel, each joint and wrap its mark at the report's
byte offset, and each panel's damage marks the counts the report gives; and drawn by a headless
Chromium, whose screenshot must have the picture's size and show both lines. Recordings: the
sample, the sample with errored, lost and scrambled packets, the same through a pipe, a multiplex
whose last service has no PCR, and a file that is refused.

Usage: plot_test.py CORVANE MAKE_SAMPLE [EMULATOR...]. Exits 77 (skipped) without Chromium,
unless CORVANE_NEED_CHROMIUM is set."""

import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
tool, make_sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
emulator = sys.argv[3:]
chromium = shutil.which("chromium") or shutil.which("chromium-browser")
if chromium is None or shutil.which("ffmpeg") is None:
    print("chromium or ffmpeg is missing")
    sys.exit(1 if os.environ.get("CORVANE_NEED_CHROMIUM") else 77)
work = tempfile.mkdtemp()
os.chdir(work)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def damaged(source, target):
    """The sample with errored video packets, audio packets lost by their counters and a run of
    scrambled audio packets, past the survey's first block."""
    data = bytearray(open(source, "rb").read())
    rng = random.Random(7)
    packets = [at for at in range(2310144, len(data), 188)]
    for at in rng.sample(packets, 400):
        pid = (data[at + 1] & 0x1F) << 8 | data[at + 2]
        if pid == 0x0111 and data[at + 3] & 0x10:
            data[at + 1] |= 0x80  # transport_error_indicator
        elif pid == 0x0112:
            data[at + 3] = data[at + 3] & 0xF0 | (data[at + 3] + 5) & 0x0F  # counter skips
    audio = [at for at in packets if (data[at + 1] & 0x1F) << 8 | data[at + 2] == 0x0113]
    for at in audio[100:160]:
        data[at + 3] |= 0x80  # transport_scrambling_control 10
    open(target, "wb").write(data)


def repair(name, source, *options, piped=False):
    words = [*emulator, tool, "-status", "posix", *options, "-plot", name + ".svg",
             "-report", name + ".json", "-" if piped else source, name + ".out.ts"]
    with open(source, "rb") as stdin:
        status = subprocess.run(words, stdin=stdin, capture_output=True).returncode
    return status, ET.parse(name + ".svg").getroot(), json.load(open(name + ".json"))


def marks(panel, kind):
    return [g for g in panel.iter(SVG + "g") if g.get("class") == "mark " + kind]


def events_of(mark):
    title = mark.find(SVG + "title").text
    return int(title.split()[0]) if title[0].isdigit() else 1


def check_picture(name, svg, report):
    panels = [g for g in svg.iter(SVG + "g") if g.get("class") == "panel"]
    repaired = [s for s in report["services"] if s["repaired"]]
    check(sorted(g.get("id") for g in panels) ==
          sorted("program-%d" % s["program"] for s in repaired), name + ": a panel per service")
    for panel in panels:
        program = int(panel.get("id").split("-")[1])
        service = next(s for s in repaired if s["program"] == program)
        axis = [line for line in panel.iter(SVG + "line") if line.get("stroke") == "#333333"][0]
        left, right = float(axis.get("x1")), float(axis.get("x2"))
        size = report["sizes"]["source_read"]
        for kind in ("joint", "wrap"):
            expected = [e["byte_offset"] for e in report["events"]
                        if e["type"] == kind and e["program"] == program]
            titles = [re.match(kind + r" at byte (\d+), ([-+]\d+\.\d) s$",
                               m.find(SVG + "title").text) for m in marks(panel, kind)]
            found = [int(t.group(1)) for t in titles]
            check(found == expected, "%s %d: %ss at %s, not %s" % (name, program, kind, found,
                                                                  expected))
            # The time a joint took out, as the report gives it, also across the 33-bit wrap: the
            # recordings jump by +600 s and -300 s.
            gaps = [round(e["gap_seconds"], 1) for e in report["events"]
                    if e["type"] == "joint" and e["program"] == program]
            if kind == "joint":
                check([float(t.group(2)) for t in titles] == gaps and
                      all(g in (600.0, -300.0) for g in gaps), "%s %d: gaps %s" % (name, program,
                                                                                  gaps))
            for mark, offset in zip(marks(panel, kind), expected):
                x = float(mark.find(SVG + "line").get("x1"))
                check(abs(x - (left + (right - left) * offset / size)) <= 0.1,
                      "%s %d: the %s at %d is drawn at %.1f" % (name, program, kind, offset, x))
        counts = service["counts"]
        for kind, key in (("errored", "errors"), ("drop", "drops")):
            check(sum(events_of(m) for m in marks(panel, kind)) == counts[key],
                  "%s %d: %s marks count %s" % (name, program, kind, counts[key]))
        scrambled = sum(int(m.find(SVG + "title").text.split()[0]) for m in marks(panel, "scrambled"))
        check(scrambled == counts["scrambled"], "%s %d: scrambled %d" % (name, program, scrambled))
        text = " ".join(t.text or "" for t in panel.iter(SVG + "text"))
        check(("no PCR" in text) == (service["pcr_pid"] is None), name + ": no PCR is said")
        check(len([p for p in panel.iter(SVG + "path") if p.get("class") == "output"]) == 1,
              name + ": the repaired line")
    return len(panels)


subprocess.run([*emulator, make_sample, "sample.ts"], check=True, capture_output=True)
subprocess.run([*emulator, make_sample, "mux.ts", "--services", "3", "--without-pcr"],
               check=True, capture_output=True)
damaged("sample.ts", "damaged.ts")
for name, source, options, piped, services in [
        ("sample", "sample.ts", [], False, 1), ("damaged", "damaged.ts", [], False, 1),
        ("piped", "damaged.ts", [], True, 1),
        ("mux", "mux.ts", ["-services", "all"], False, 3)]:
    status, svg, report = repair(name, source, *options, piped=piped)
    check(status == 0, "%s: status %d" % (name, status))
    check(check_picture(name, svg, report) == services, name + ": services")
damage = json.load(open("damaged.json"))["counts"]
check(damage["errors"] > 0 and damage["drops"] > 0 and damage["scrambled"] == 60,
      "the damaged sample's damage: %s" % damage)

# A refused file: no panel, and the refusal said.
open("noise.ts", "wb").write(bytes(random.Random(1).randrange(256) for _ in range(100000)))
status, svg, report = repair("noise", "noise.ts")
check(status == 3 and check_picture("noise", svg, report) == 0 and
      "refused" in ET.tostring(svg, encoding="unicode"), "noise: refused")

# In a browser: the screenshot has the picture's size, and shows the source's line in orange and
# the repaired one in blue.
svg = ET.parse("sample.svg").getroot()
width, height = int(svg.get("width")), int(svg.get("height"))
subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                "--user-data-dir=" + os.path.join(work, "profile"), "--screenshot=" +
                os.path.join(work, "sample.png"), "--window-size=%d,%d" % (width, height),
                "file://" + os.path.join(work, "sample.svg")], check=True, capture_output=True,
               timeout=120)
png = open("sample.png", "rb").read()
check(png[:8] == b"\x89PNG\r\n\x1a\n" and
      (int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")) == (width, height),
      "the screenshot's size")
rgb = subprocess.run(["ffmpeg", "-v", "error", "-i", "sample.png", "-f", "rawvideo", "-pix_fmt",
                      "rgb24", "-"], check=True, capture_output=True).stdout
pixels = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
near = lambda colour: sum(1 for p in pixels if sum(abs(a - b) for a, b in zip(p, colour)) < 60)
check(near((0xff, 0x7f, 0x0e)) > 500 and near((0x1f, 0x77, 0xb4)) > 200,
      "the screenshot shows both lines")
check(sum(1 for p in pixels if p != b"\xff\xff\xff") > len(pixels) // 50, "a picture, not a page")

shutil.rmtree(work)
sys.exit(1 if failures else 0)
