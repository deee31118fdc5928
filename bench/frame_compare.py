#!/usr/bin/env python3
"""Times two frame_bench runs side by side: an old build against a new one, or one build on one
thread against the same build on two. The two sides run alternately, round after round, so that a
host whose speed drifts slows both alike; where both sides draw on one thread, each round pins both
to the same processor, the next round to the next processor. Prints every round's median total
per size and side, then per size the median of the sides and of the rounds' speed-ups (A's time
over B's).

  frame_compare.py --a BIN[:THREADS] --b BIN[:THREADS] [--sizes 640x480,1920x1080] [--rounds 12]
                   [--reps 15]

BIN is a frame_bench executable; THREADS its --threads value (default 1). Older frame_bench builds
without --no-instructions are run without it.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys

HEADER = re.compile(r"^(\d+x\d+), (\d+) threads?")
TOTAL = re.compile(r"^\s*total\s+min\s+([\d.]+) ms\s+median\s+([\d.]+) ms")


def side(text):
    binary, _, threads = text.partition(":")
    if not os.access(binary, os.X_OK):
        raise argparse.ArgumentTypeError(f"{binary}: not an executable")
    if threads and not threads.isdigit():
        raise argparse.ArgumentTypeError(f"{text}: the thread count must be a number")
    return binary, threads or "1"


def positive(text):
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"{text}: must be a whole number of 1 or more")
    return int(text)


def parse_totals(output):
    """The median total of each size in a frame_bench report, in the order printed."""
    totals, size = {}, None
    for line in output.splitlines():
        header = HEADER.match(line)
        if header:
            size = header.group(1)
            continue
        total = TOTAL.match(line)
        if total and size is not None and size not in totals:
            totals[size] = float(total.group(2))
    return totals


def command_of(binary, threads, sizes, reps):
    """The frame_bench command line of one side, without the instruction counts where it has them."""
    command = [binary, "--sizes", ",".join(sizes), "--threads", threads, "--reps", str(reps)]
    usage = subprocess.run([binary, "--help"], capture_output=True, text=True)
    if "--no-instructions" in usage.stdout + usage.stderr:
        command.append("--no-instructions")
    return command


def run(command, sizes, cpu):
    binary = command[0]
    if cpu is not None:
        command = ["taskset", "-c", str(cpu)] + command
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"frame_compare: {' '.join(command)} failed: {done.stderr.strip()}")
    totals = parse_totals(done.stdout)
    missing = [s for s in sizes if s not in totals]
    if missing:
        sys.exit(f"frame_compare: {binary} printed no total for {', '.join(missing)}")
    return totals


def main():
    parser = argparse.ArgumentParser(description="Times two frame_bench runs side by side.")
    parser.add_argument("--a", type=side, required=True, help="BIN[:THREADS], the side timed first")
    parser.add_argument("--b", type=side, required=True, help="BIN[:THREADS]")
    parser.add_argument("--sizes", default="640x480,1920x1080")
    parser.add_argument("--rounds", type=positive, default=12)
    parser.add_argument("--reps", type=positive, default=15)
    args = parser.parse_args()
    sizes = args.sizes.split(",")
    pin = args.a[1] == "1" and args.b[1] == "1" and shutil.which("taskset") is not None
    commands = [command_of(*args.a, sizes, args.reps), command_of(*args.b, sizes, args.reps)]
    cpus = sorted(os.sched_getaffinity(0))

    rounds = []
    for number in range(args.rounds):
        cpu = cpus[number % len(cpus)] if pin else None
        a, b = (run(command, sizes, cpu) for command in commands)
        rounds.append((a, b))
        cells = "  ".join(f"{s}: A {a[s]:8.3f} ms  B {b[s]:8.3f} ms  x{a[s] / b[s]:.2f}"
                          for s in sizes)
        print(f"round {number + 1:2d}{'' if cpu is None else f' (cpu {cpu})'}  {cells}", flush=True)

    print(f"A = {':'.join(args.a)}\nB = {':'.join(args.b)}")
    for s in sizes:
        a = [r[0][s] for r in rounds]
        b = [r[1][s] for r in rounds]
        ratios = [x / y for x, y in zip(a, b)]
        print(f"{s}: median A {statistics.median(a):.3f} ms, B {statistics.median(b):.3f} ms; "
              f"speed-up A/B median {statistics.median(ratios):.2f} (rounds {min(ratios):.2f} to {max(ratios):.2f})")


if __name__ == "__main__":
    main()
