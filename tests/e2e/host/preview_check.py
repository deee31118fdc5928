#!/usr/bin/env python3
"""The saver in a settings dialog's preview: a 423 x 237 window of ours (of a 32-bit visual when
the screen has one, so not the default visual), the saver started as the preview starts it,
`--root --window-id ID` with $XSCREENSAVER_WINDOW naming another window. The saver must draw into
the named window only, fill it at any size it is given, and never map, move, resize, restack it
or set properties on it: this test acts as the window manager, so any such request of the saver
reaches the test instead of the server. Destroying the window ends the saver with status 0.

    preview_check.py --saver PROGRAM --data DATA_DIR
"""
import argparse
import time

from xtool import (CONFIGURE_REQUEST, IS_UNMAPPED, IS_VIEWABLE, MAP_REQUEST, PROPERTY_NOTIFY, Saver, XClient,
                   Xvfb, check, describe_status, log, run_test, sanitizer_trouble, saver_environment, wait_for)

MAGENTA = 0xFF00FF  # the preview window's background: any of it left on screen is a pixel not drawn
GREEN = 0x00FF00  # the background of the window $XSCREENSAVER_WINDOW names; it must stay so
PICTURE_TIMEOUT = 20
EDGE = 2  # width of the strips along each edge checked for letterbox bars


def filled(host, window, width, height):
    """The window's picture when the saver fills it completely at this size, else None."""
    picture = host.picture(window, width, height)
    if picture is None or picture.share(MAGENTA) > 0 or picture.distinct() < 8:
        return None
    strips = [(0, 0, width, EDGE), (0, height - EDGE, width, EDGE), (0, 0, EDGE, height), (width - EDGE, 0, EDGE, height)]
    if any(picture.share(0x000000, strip) == 1.0 for strip in strips):
        return None
    return picture


def expect_filled_and_changing(host, window, width, height, saver):
    def first_picture():
        return filled(host, window, width, height) if saver.running() else "stopped"

    def changed_picture():
        picture = filled(host, window, width, height)
        return picture is not None and picture.digest() != first.digest()

    first = wait_for(first_picture, PICTURE_TIMEOUT)
    check(first and first != "stopped",
          f"the saver does not fill the {width}x{height} window ({describe_status(saver.process.poll())})")
    check(wait_for(changed_picture, 5), f"the picture in the {width}x{height} window does not change")
    log(f"  the saver fills the {width}x{height} window and the picture changes")


def main(arguments):
    xvfb = Xvfb("1024x768")
    saver = None
    try:
        host = XClient(xvfb.name)
        host.act_as_window_manager()
        preview, depth = host.create_window(40, 50, 423, 237, MAGENTA, depth=32)
        decoy, _ = host.create_window(600, 50, 200, 150, GREEN)
        host.map(decoy)
        log(f"== preview window 0x{preview:X} of depth {depth} on {xvfb.name}")
        properties = host.properties(preview)
        host.drain_events()

        env = saver_environment(xvfb.name, XSCREENSAVER_WINDOW=f"0x{decoy:X}", KLV_FRAME_REPORT="1")
        saver = Saver(arguments.saver, ["--root", "--window-id", f"0x{preview:X}"], env, cwd=arguments.data)

        # Unmapped, the window stays unmapped and the saver waits for it.
        time.sleep(2)
        check(saver.running(), f"the saver ended before its window was shown: {describe_status(saver.wait(0))}\n"
              + saver.output())
        check(host.attributes(preview) == (40, 50, 423, 237, IS_UNMAPPED), "the saver changed its unmapped window")
        host.map(preview)
        expect_filled_and_changing(host, preview, 423, 237, saver)
        decoy_picture = host.picture(decoy)
        check(decoy_picture.share(GREEN) == 1.0, "the saver drew into $XSCREENSAVER_WINDOW, not --window-id")

        for width, height in ((640, 360), (180, 320)):
            host.resize(preview, width, height)
            expect_filled_and_changing(host, preview, width, height, saver)

        requests = [(kind, window) for kind, window in host.drain_events()
                    if window == preview and kind in (MAP_REQUEST, CONFIGURE_REQUEST, PROPERTY_NOTIFY)]
        check(not requests, f"the saver asked to map, configure or set properties on its window: {requests}")
        check(host.attributes(preview) == (40, 50, 180, 320, IS_VIEWABLE), "the window's geometry or state changed")
        check(host.properties(preview) == properties, "the saver set properties on its window")
        log("  the window was never mapped, moved, resized, restacked or given properties by the saver")

        host.destroy(preview)
        status = saver.wait(3)
        check(status == 0, f"after its window was destroyed the saver ended with {describe_status(status)}:\n"
              + saver.output())
        trouble = sanitizer_trouble(saver.output())
        check(trouble is None, f"the saver reported: {trouble}")
        complaints = [line for line in saver.output().splitlines() if "error" in line.lower()]
        check(not complaints, f"the saver did not end quietly when its window was destroyed: {complaints}")
        log(f"  window destroyed: the saver exited with 0 after {time.monotonic() - saver.started:.1f} s")
        report = [line for line in saver.output().splitlines() if "frames in" in line]
        if report:
            log(f"  {report[-1]}")
        host.close()
    finally:
        if saver:
            saver.stop()
        xvfb.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--saver", required=True)
    parser.add_argument("--data", required=True)
    parsed = parser.parse_args()
    run_test(lambda: main(parsed))
