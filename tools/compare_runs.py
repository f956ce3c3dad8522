#!/usr/bin/env python3
"""Runs two builds of the tool on the same recordings and compares all that they write: the
destination, the time log, standard output and standard error (with LC_ALL=C, the start and end
times masked) and the exit status, for every combination of the three settings and of -services
one and all: with named files,
with standard input and output on files, and through pipes (`cat | tool - OUT` and
`cat | tool - - | cat`).

    tools/compare_runs.py OLD_TOOL NEW_TOOL RECORDING... [--work DIR]
                          [--modes named,stdin,files,piped-in,pipes]

A recording whose name does not end in .ts is a fuzz seed (make_fuzz_seeds): its first byte,
the settings, is dropped. Prints one line per recording and a count; exits 1 when any run
differs.
"""
import argparse
import itertools
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

# The start and end lines: 開始時刻 and 終了時刻 with the local time, as code page 932 bytes.
TIME_LINE = re.compile(rb"(\x8aJ\x8en|\x8fI\x97\xb9)\x8e\x9e\x8d\x8f \d\d\x8e\x9e\d\d\x95\xaa\d\d\x95b")


def masked(text):
    return TIME_LINE.sub(rb"\1 time", text)


def run(tool_folder, tool, recording, settings, mode):
    """One run in a fresh copy of the folder; returns what it left, by name."""
    work = tempfile.mkdtemp(dir=tool_folder)
    try:
        source = os.path.join(work, "rec.ts")
        shutil.copyfile(recording, source)
        options = []
        for name, on in zip(("-nogop", "-pmtcheck", "-log"), settings):
            options += [name, "on" if on else "off"]
        options += ["-services", "all" if settings[3] else "one"]
        env = dict(os.environ, LC_ALL="C")
        out_path = os.path.join(work, "out.ts")
        tool = [tool]
        if mode == "named":
            argv, stdin = tool + options + [source, out_path], subprocess.DEVNULL
        elif mode == "stdin":
            argv, stdin = tool + options + ["-", out_path], open(source, "rb")
        elif mode == "files":  # both ends standard streams, on files
            argv, stdin = tool + options + ["-", "-"], open(source, "rb")
        else:  # through pipes; the status is the tool's
            words = " ".join(shlex.quote(word) for word in tool + options)
            line = (f"cat rec.ts | {words} - out.ts; exit ${{PIPESTATUS[1]}}" if mode == "piped-in"
                    else f"cat rec.ts | {words} - - | cat; exit ${{PIPESTATUS[1]}}")
            argv, stdin = ["bash", "-c", line], subprocess.DEVNULL
        with open(os.path.join(work, "stdout"), "wb") as stdout:
            status = subprocess.run(argv, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                                    cwd=work, env=env, timeout=600)
        if stdin is not subprocess.DEVNULL:
            stdin.close()
        left = {"status": str(status.returncode).encode(), "stderr": masked(status.stderr)}
        for name in sorted(os.listdir(work)):
            with open(os.path.join(work, name), "rb") as f:
                data = f.read()
            left[name] = masked(data) if name == "stdout" else data
        return left
    finally:
        shutil.rmtree(work)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("recordings", nargs="+")
    parser.add_argument("--work", default=None)
    parser.add_argument("--modes", default="named,stdin,files,piped-in,pipes")
    args = parser.parse_args()
    work = tempfile.mkdtemp(dir=args.work)
    folders = {}
    for role, tool in (("old", args.old), ("new", args.new)):
        folders[role] = os.path.join(work, role)
        os.mkdir(folders[role])
        shutil.copy(tool, folders[role])
    tools = {role: os.path.join(folders[role], os.path.basename(tool))
             for role, tool in (("old", args.old), ("new", args.new))}

    runs = differing = 0
    for recording in args.recordings:
        source = recording
        if not recording.lower().endswith(".ts"):
            with open(recording, "rb") as f:
                data = f.read()[1:]
            source = os.path.join(work, os.path.basename(recording) + ".ts")
            with open(source, "wb") as f:
                f.write(data)
        statuses = set()
        for settings in itertools.product((False, True), repeat=4):
            for mode in args.modes.split(","):
                old = run(folders["old"], tools["old"], source, settings, mode)
                new = run(folders["new"], tools["new"], source, settings, mode)
                runs += 1
                statuses.add(old["status"].decode())
                if old != new:
                    differing += 1
                    what = sorted(k for k in set(old) | set(new) if old.get(k) != new.get(k))
                    print(f"DIFFERS {recording} {settings} {mode}: {', '.join(what)}")
        print(f"{os.path.basename(recording)}: {os.path.getsize(source)} bytes, "
              f"statuses {' '.join(sorted(statuses))}", flush=True)
    shutil.rmtree(work)
    print(f"{runs} runs, {differing} differ")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
