#!/usr/bin/env python3
"""Times commands side by side and prints median wall times and ratios.

Usage: compare.py TITLE RUNS NAME=COMMAND [NAME=COMMAND ...]

The first command is the program; every other one is a peer. The commands run
interleaved (program, peer, program, peer, ...) after one warm-up round, so
that all of them see the same page cache and machine load. Prints, per
command, the median wall time and peak resident memory, and per peer the
ratio program time / peer time (below 1.0: the program is faster).
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


GNU_TIME = "/usr/bin/time"


def run_once(command):
    """Wall time, peak RSS in KiB and exit code of one run.

    The peak memory comes from GNU time, which starts the command from a small
    process: a child forked from this Python process would report Python's
    own memory as its peak.
    """
    with tempfile.NamedTemporaryFile("r") as memory_file:
        argv = ["/bin/bash", "-c", command]
        if os.path.exists(GNU_TIME):
            argv = [GNU_TIME, "-q", "-f", "%M", "-o", memory_file.name] + argv
        start = time.perf_counter()
        code = subprocess.call(argv, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        text = memory_file.read().strip()
    rss = int(text.splitlines()[-1]) if text else 0
    return elapsed, rss, code


def measure(runs, commands, stop_on_failure=False):
    """Runs (name, set-up, command) triples interleaved, one warm-up round
    first. The set-up (a shell command, or None) runs before every run of its
    command and is not timed. Returns median seconds and peak RSS in KiB."""
    times = {name: [] for name, _, _ in commands}
    peaks = {name: 0 for name, _, _ in commands}
    for round_number in range(runs + 1):
        for name, setup, command in commands:
            if setup:
                subprocess.check_call(["/bin/bash", "-c", setup])
            elapsed, rss, code = run_once(command)
            if code != 0:
                message = f"  {name}: exit code {code}: {command}"
                # A job's own words on why it failed, when the command ran one.
                for error_file in (word + ".err" for word in command.split() if word.endswith(".job")):
                    if os.path.exists(error_file):
                        with open(error_file, errors="replace") as error:
                            message += "\n    " + error.read().strip().replace("\n", "\n    ")
                if stop_on_failure:
                    sys.exit(message)
                print(message, file=sys.stderr)
            if round_number > 0:  # round 0 warms the cache
                times[name].append(elapsed)
                peaks[name] = max(peaks[name], rss)
    return {name: statistics.median(values) for name, values in times.items()}, peaks


def print_comparison(title, runs, medians, peaks):
    """The first command is the program; the others get a ratio against it."""
    program = next(iter(medians))
    print(f"== {title} ({runs} runs each, medians)")
    for name, median in medians.items():
        line = f"  {name:<34} {median:9.3f} s   peak RSS {peaks[name] / 1024:8.1f} MiB"
        if name != program:
            line += f"   ratio program/peer {medians[program] / median:6.2f}"
        print(line)
    sys.stdout.flush()


def main():
    title, runs = sys.argv[1], int(sys.argv[2])
    commands = [(name, None, command)
                for name, command in (arg.split("=", 1) for arg in sys.argv[3:])]
    medians, peaks = measure(runs, commands)
    print_comparison(title, runs, medians, peaks)


if __name__ == "__main__":
    main()
