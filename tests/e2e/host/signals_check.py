#!/usr/bin/env python3
"""How the saver, drawing into a host's window ($XSCREENSAVER_WINDOW with --root), takes the
signals hosts send: SIGTERM or SIGINT at any moment, mid-frame included, ends it with status 0
within a second and, in a sanitizer build, with nothing leaked; SIGSTOP for two seconds and then
SIGCONT (MATE and Xfce pause the saver so under their unlock dialog) must not be followed by a
burst of catch-up steps: over the whole run the flight takes no more steps than the running time
allows at one step per 16 ms.

    signals_check.py --saver PROGRAM --data DATA_DIR
"""
import argparse
import random
import re
import signal
import time

from xtool import (Saver, XClient, Xvfb, check, describe_status, log, run_test, sanitizer_trouble,
                   saver_environment, time_allowance, wait_for)

WIDTH, HEIGHT = 640, 480
BACKGROUND = 0xFF00FF
STEP_SECONDS = 0.016
STEP_SLACK = 6  # steps allowed above the running time's share, for the clock's granularity
END_TIMEOUT = 1.0  # release build; sanitizer builds get longer (time_allowance)
REPORT = re.compile(r"(\d+) frames in ([0-9.]+) s .*?, (\d+) scene steps")


def start_drawing(host, window, display, arguments, seed, options=()):
    host.clear(window)
    env = saver_environment(display, XSCREENSAVER_WINDOW=f"0x{window:X}", KLV_FRAME_REPORT="1")
    saver = Saver(arguments.saver, ["--root"] + list(options), env, cwd=arguments.data)

    def drawing():
        if not saver.running():
            return "stopped"
        picture = host.picture(window, WIDTH, HEIGHT)
        return picture is not None and picture.share(BACKGROUND) == 0 and picture.distinct() >= 8

    state = wait_for(drawing, 20)
    check(state is True, f"the saver does not draw into its window ({describe_status(saver.wait(0))}):\n"
          + saver.output())
    log(f"  run {seed}: the saver draws into window 0x{window:X}")
    return saver


def expect_clean_end(saver, how, program):
    timeout = END_TIMEOUT * time_allowance(program)
    status = saver.wait(timeout)
    if status is None:
        saver.stop()
    check(status == 0, f"after {how} the saver ended with {describe_status(status)} (within {timeout} s):\n"
          + saver.output())
    trouble = sanitizer_trouble(saver.output())
    check(trouble is None, f"after {how} the saver reported: {trouble}")


def main(arguments):
    xvfb = Xvfb("1024x768")
    try:
        host = XClient(xvfb.name)
        window, _ = host.create_window(10, 10, WIDTH, HEIGHT, BACKGROUND)
        host.map(window)
        log(f"== signals on {xvfb.name}")
        randomness = random.Random(14)
        for run, number in enumerate((signal.SIGTERM, signal.SIGTERM, signal.SIGTERM, signal.SIGINT)):
            # With no delay between steps the saver draws frame after frame, so the signal
            # arrives in the middle of one.
            saver = start_drawing(host, window, xvfb.name, arguments, run, ["--delay", "0"])
            time.sleep(randomness.uniform(0.05, 0.5))
            saver.signal(number)
            expect_clean_end(saver, number.name, arguments.saver)
            log(f"  {number.name}: exit status 0, nothing reported")

        saver = start_drawing(host, window, xvfb.name, arguments, "pause")
        time.sleep(1)
        saver.signal(signal.SIGSTOP)
        stopped = time.monotonic()
        time.sleep(2)
        saver.signal(signal.SIGCONT)
        paused = time.monotonic() - stopped
        time.sleep(1)
        saver.signal(signal.SIGTERM)
        expect_clean_end(saver, "SIGSTOP, SIGCONT and SIGTERM", arguments.saver)
        match = REPORT.search(saver.output())
        check(match, "no frame report (KLV_FRAME_REPORT) on standard error:\n" + saver.output())
        frames, seconds, steps = int(match.group(1)), float(match.group(2)), int(match.group(3))
        allowed = int((seconds - paused) / STEP_SECONDS) + STEP_SLACK
        log(f"  paused {paused:.2f} s of {seconds:.2f} s: {frames} frames, {steps} steps (at most {allowed} allowed)")
        check(steps <= allowed, f"{steps} steps in {seconds:.2f} s with {paused:.2f} s paused: the saver caught up "
              f"on the pause (at most {allowed} steps fit the running time)")
        host.close()
    finally:
        xvfb.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--saver", required=True)
    parser.add_argument("--data", required=True)
    parsed = parser.parse_args()
    run_test(lambda: main(parsed))
