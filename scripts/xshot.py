#!/usr/bin/env python3
"""Prints a fingerprint of the X screen named by $DISPLAY (24-bit colour): the SHA-1 of the root
window's pixels, how many distinct byte values a sample of them holds (1 means a blank screen)
and the percentage of pixels that are black. Used by window-check.sh to see that the saver's
window fills the screen with pictures that change. Needs only libX11, through ctypes."""
import ctypes
import ctypes.util
import hashlib
import sys

ALL_PLANES = 0xFFFFFFFF
Z_PIXMAP = 2
SAMPLE_STEP = 997


class XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, in declaration order.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int)]


def main():
    name = ctypes.util.find_library("X11")
    if name is None:
        sys.exit("xshot: libX11 not found")
    x = ctypes.cdll.LoadLibrary(name)
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XDefaultScreen.argtypes = [ctypes.c_void_p]
    x.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                            ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    display = x.XOpenDisplay(None)
    if not display:
        sys.exit("xshot: cannot open the display")
    screen = x.XDefaultScreen(display)
    width, height = x.XDisplayWidth(display, screen), x.XDisplayHeight(display, screen)
    image = x.XGetImage(display, x.XDefaultRootWindow(display), 0, 0, width, height, ALL_PLANES, Z_PIXMAP)
    if not image:
        sys.exit("xshot: cannot read the screen")
    pixels = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * image.contents.height)
    distinct = len(set(pixels[i] for i in range(0, len(pixels), SAMPLE_STEP)))
    words = memoryview(pixels).cast("I")
    black = sum(1 for word in words if word & 0xFFFFFF == 0)
    print(hashlib.sha1(pixels).hexdigest(), distinct, black * 100 // len(words))


if __name__ == "__main__":
    main()
