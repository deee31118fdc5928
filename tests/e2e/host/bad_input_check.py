#!/usr/bin/env python3
"""Bad command lines and window ids in the embedded mode: a malformed window id, 0, an id that
names no window, a bad $XSCREENSAVER_WINDOW, a display that does not exist, an option without its
value, a picture size of 0 x 0 or beyond any screen, a negative delay. Each must end the saver
with one clear line on standard error and exit status 1, never a crash or a sanitizer report.
Two good command lines (a window id in decimal, a picture size) check that the saver does run
where it should.

    bad_input_check.py --saver PROGRAM --data DATA_DIR
"""
import argparse
import signal

from xtool import (Saver, XClient, Xvfb, check, describe_status, log, run_test, sanitizer_trouble,
                   saver_environment, wait_for)

EXIT_TIMEOUT = 10
BACKGROUND = 0xFF00FF


def expect_refused(arguments, display, options, env_extra, what):
    saver = Saver(arguments.saver, options, saver_environment(display, **env_extra), cwd=arguments.data)
    status = saver.wait(EXIT_TIMEOUT)
    saver.stop()
    lines = [line for line in saver.output().splitlines() if line.strip()]
    check(status == 1, f"{what}: {describe_status(status)} instead of exit status 1:\n" + saver.output())
    trouble = sanitizer_trouble(saver.output())
    check(trouble is None, f"{what}: {trouble}")
    check(len(lines) == 1, f"{what}: {len(lines)} lines on standard error instead of one:\n" + saver.output())
    log(f"  {what}: exit 1, \"{lines[0]}\"")


def expect_running(host, window, arguments, display, options, what):
    host.clear(window)
    saver = Saver(arguments.saver, options, saver_environment(display), cwd=arguments.data)

    def drawing():
        if not saver.running():
            return "stopped"
        picture = host.picture(window)
        return picture is not None and picture.share(BACKGROUND) == 0

    state = wait_for(drawing, 20)
    saver.signal(signal.SIGTERM)
    status = saver.wait(5)
    saver.stop()
    check(state is True, f"{what}: the saver does not draw ({describe_status(status)}):\n" + saver.output())
    check(status == 0, f"{what}: {describe_status(status)} after SIGTERM:\n" + saver.output())
    log(f"  {what}: draws, exit 0 on SIGTERM")


def main(arguments):
    xvfb = Xvfb("1024x768")
    try:
        host = XClient(xvfb.name)
        window, _ = host.create_window(0, 0, 300, 200, BACKGROUND)
        host.map(window)
        gone, _ = host.create_window(0, 0, 10, 10, BACKGROUND)
        host.destroy(gone)
        log(f"== bad input on {xvfb.name}")
        good = f"0x{window:X}"
        cases = [
            (["--root", "--window-id", "garbage"], {}, "--window-id garbage"),
            (["--root", "--window-id", "0x12zz"], {}, "--window-id 0x12zz"),
            (["--root", "--window-id", "0"], {}, "--window-id 0"),
            (["--root", "--window-id", f"0x{gone:X}"], {}, "--window-id of a destroyed window"),
            (["--root", "--window-id", "0xFFFFFFFFFFFF"], {}, "--window-id beyond 32 bits"),
            (["--root", "--window-id"], {}, "--window-id without a value"),
            (["--root"], {"XSCREENSAVER_WINDOW": "nonsense"}, "XSCREENSAVER_WINDOW=nonsense"),
            (["--root", "--display", ":9999"], {}, "--display of no server"),
            (["--root", "--window-id", good, "--size", "0x0"], {}, "--size 0x0"),
            (["--root", "--window-id", good, "--size", "99999x99999"], {}, "--size 99999x99999"),
            (["--root", "--window-id", good, "--delay", "-5"], {}, "--delay -5"),
        ]
        for options, env_extra, what in cases:
            expect_refused(arguments, xvfb.name, options, env_extra, what)
        expect_running(host, window, arguments, xvfb.name, ["--root", "--window-id", str(window)],
                       f"--window-id {window} (decimal)")
        expect_running(host, window, arguments, xvfb.name, ["--root", "--window-id", good, "--size", "320x200"],
                       "--size 320x200")
        host.close()
    finally:
        xvfb.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--saver", required=True)
    parser.add_argument("--data", required=True)
    parsed = parser.parse_args()
    run_test(lambda: main(parsed))
