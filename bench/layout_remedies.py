#!/usr/bin/env python3
"""Follows the host program's advice after the cut and cuts again.

Reads the lines of bench/layout_truth.sh (photo WxH | options | pieces cells),
takes every run that slivered, runs it again for its note, applies what the
note advises and reports how many runs the advice left clean, and which
layouts got no advice.
Usage: bench/layout_remedies.py HOST PHOTO_DIR SWEEP_OUTPUT...
"""
import collections
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
import threading


def cut(host, photo, options, work):
    out = os.path.join(work, f"{threading.get_ident()}.png")
    run = subprocess.run([host] + options.split() + [photo, "-o", out, "-q", "--threads", "1"],
                         capture_output=True, text=True)
    if os.path.exists(out):
        os.remove(out)
    return run.stderr


def set_option(options, name, value):
    if re.search(rf"{name} \S+", options):
        return re.sub(rf"{name} \S+", f"{name} {value}", options)
    return f"{options} {name} {value}"


def drop_option(options, name):
    return re.sub(rf" ?{name} \S+", "", options).strip()


def follow(size, options, note):
    """The options with the note's advice applied, or None and why not."""
    width, height = map(int, size.split("x"))
    m = re.search(r"(?:cut slivers off|join cells); (.*)$", note, re.M)
    if not m:
        return None, "no advice"
    advice = m.group(1)
    if advice.startswith("no option"):
        return None, "none known"
    o = options
    if "lower --random-knots" in advice:
        o = set_option(o, "--random-knots", 10)
    if "give --grid cells under" in advice:
        if "or lower --knob-size to 30" in advice:
            o = set_option(o, "--knob-size", 30)
        else:
            g = re.search(r"--grid (\d+)x(\d+)", o)
            columns, rows = int(g[1]), int(g[2])
            if width / columns > height / rows:
                columns = max(1, round(width * rows / height))
            else:
                rows = max(1, round(height * columns / width))
            o = re.sub(r"--grid \S+", f"--grid {columns}x{rows}", o)
    if "lower --knob-size to 60" in advice:
        o = set_option(o, "--knob-size", 60)
    if "raise --knob-size to 30" in advice:
        o = set_option(o, "--knob-size", 30)
    if "leave out --thickness" in advice:
        o = drop_option(o, "--thickness")
    if "leave out --random-knots" in advice:
        o = drop_option(o, "--random-knots")
        if "--flip" not in o:
            o = drop_option(o, "--seed")
    if "add --regular" in advice:
        o += " --regular"
    if "give --hexagons counts" in advice:
        g = re.search(r"--hexagons (\d+)x(\d+)", o)
        o = re.sub(r"--hexagons \S+", f"--hexagons {int(g[1]) + 1}x{g[2]}", o)
    return o, advice


def main():
    host, folder, sweeps = sys.argv[1], sys.argv[2], sys.argv[3:]
    runs = []
    for sweep in sweeps:
        for line in open(sweep):
            if " | " not in line:
                continue
            photo, options, result = line.rstrip("\n").split(" | ")
            if result != "same" and not result.startswith("failed"):
                runs.append((photo.split()[0], photo.split()[1], options.strip()))
    counts = collections.Counter()
    with tempfile.TemporaryDirectory() as work:
        def job(run):
            photo, size, options = run
            path = os.path.join(folder, photo)
            followed, advice = follow(size, options, cut(host, path, options, work))
            if followed is None:
                return run, advice, None, None
            return run, advice, followed, "the cut gave" not in cut(host, path, followed, work)

        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            for (photo, _, options), advice, followed, clean in pool.map(job, runs):
                kind = next((k for k in ("triangles", "hexagons") if k in options), "grid")
                if followed is None:
                    counts[(kind, advice)] += 1
                else:
                    counts[(kind, "advice followed", "clean" if clean else "still slivers")] += 1
                    if not clean:
                        print(f"still slivers: {photo} {options} -> {followed}")
    for key, n in sorted(counts.items(), key=str):
        print(" ".join(key), n)


if __name__ == "__main__":
    main()
