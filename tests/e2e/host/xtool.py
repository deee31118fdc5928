"""The pieces the host tests share: a virtual X server (Xvfb), a small Xlib client through ctypes
that plays the part of a screen-saver host (makes windows, watches what others do to them, reads
their pixels), and the saver process with its exit status.

A host test exits 0 when it passes, 1 when it fails and 77 (skipped) only when Xvfb or libX11
is missing."""
import array
import ctypes
import ctypes.util
import hashlib
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77

ALL_PLANES = 0xFFFFFFFF
Z_PIXMAP = 2
TRUE_COLOR = 4
INPUT_OUTPUT = 1
IS_UNMAPPED, IS_VIEWABLE = 0, 2
ALLOC_NONE = 0

# Event masks and types (X.h).
KEY_PRESS_MASK = 1 << 0
BUTTON_PRESS_MASK = 1 << 2
POINTER_MOTION_MASK = 1 << 6
STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_REDIRECT_MASK = 1 << 20
PROPERTY_CHANGE_MASK = 1 << 22
MAP_REQUEST, CONFIGURE_REQUEST, PROPERTY_NOTIFY = 20, 23, 28

# Window attribute value masks (X.h).
CW_BACK_PIXEL = 1 << 1
CW_BORDER_PIXEL = 1 << 3
CW_COLORMAP = 1 << 13


def log(message):
    print(message, flush=True)


class TestFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def run_test(body):
    """Runs body() and turns its outcome into the exit status CTest reads."""
    try:
        body()
    except TestFailure as failure:
        print(f"FAILED: {failure}", file=sys.stderr, flush=True)
        sys.exit(1)
    log("passed")
    sys.exit(0)


def skip(reason):
    log(f"skipped: {reason}")
    sys.exit(SKIP)


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XSetWindowAttributes(ctypes.Structure):
    _fields_ = [("background_pixmap", ctypes.c_ulong), ("background_pixel", ctypes.c_ulong),
                ("border_pixmap", ctypes.c_ulong), ("border_pixel", ctypes.c_ulong), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("event_mask", ctypes.c_long),
                ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("cursor", ctypes.c_ulong)]


class XVisualInfo(ctypes.Structure):
    _fields_ = [("visual", ctypes.c_void_p), ("visualid", ctypes.c_ulong), ("screen", ctypes.c_int),
                ("depth", ctypes.c_int), ("c_class", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong), ("colormap_size", ctypes.c_int),
                ("bits_per_rgb", ctypes.c_int)]


class XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, in declaration order.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class XErrorEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("display", ctypes.c_void_p), ("resourceid", ctypes.c_ulong),
                ("serial", ctypes.c_ulong), ("error_code", ctypes.c_ubyte), ("request_code", ctypes.c_ubyte),
                ("minor_code", ctypes.c_ubyte)]


ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(XErrorEvent))


class Picture:
    """The pixels of a window as an array of 32-bit words (0x..RRGGBB), row by row."""

    def __init__(self, width, height, words):
        self.width, self.height, self.words = width, height, words

    def save(self, path):
        """Writes the picture as a binary PPM file (for looking at it)."""
        rgb = bytearray()
        for p in self.words:
            rgb += bytes(((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF))
        with open(path, "wb") as out:
            out.write(b"P6 %d %d 255\n" % (self.width, self.height) + bytes(rgb))

    def digest(self):
        return hashlib.sha1(self.words.tobytes()).hexdigest()

    def share(self, rgb, region=None):
        """Fraction of the pixels (of region (x, y, w, h) if given) whose colour is rgb."""
        pixels = self.region(region)
        return sum(1 for p in pixels if p & 0xFFFFFF == rgb) / max(1, len(pixels))

    def distinct(self, region=None):
        return len(set(p & 0xFFFFFF for p in self.region(region)[::7]))

    def region(self, region):
        if region is None:
            return self.words
        x0, y0, w, h = region
        out = []
        for y in range(y0, y0 + h):
            out.extend(self.words[y * self.width + x0:y * self.width + x0 + w])
        return out


class XClient:
    """One connection to the X server, made to act as a host: it creates windows, watches what
    other clients ask of them, and reads their pixels."""

    def __init__(self, display_name):
        name = ctypes.util.find_library("X11")
        if name is None:
            skip("libX11 is not installed")
        x = ctypes.cdll.LoadLibrary(name)
        self.x = x
        vp, ul, ci, cu = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint
        x.XOpenDisplay.restype = vp
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XCloseDisplay.argtypes = [vp]
        x.XRootWindow.restype = ul
        x.XRootWindow.argtypes = [vp, ci]
        x.XDefaultScreen.argtypes = [vp]
        x.XScreenCount.argtypes = [vp]
        x.XDefaultVisual.restype = vp
        x.XDefaultVisual.argtypes = [vp, ci]
        x.XDefaultDepth.argtypes = [vp, ci]
        x.XDisplayWidth.argtypes = [vp, ci]
        x.XDisplayHeight.argtypes = [vp, ci]
        x.XMatchVisualInfo.argtypes = [vp, ci, ci, ci, ctypes.POINTER(XVisualInfo)]
        x.XCreateColormap.restype = ul
        x.XCreateColormap.argtypes = [vp, ul, vp, ci]
        x.XCreateWindow.restype = ul
        x.XCreateWindow.argtypes = [vp, ul, ci, ci, cu, cu, cu, ci, cu, vp, ul, ctypes.POINTER(XSetWindowAttributes)]
        x.XSelectInput.argtypes = [vp, ul, ctypes.c_long]
        for f in ("XMapWindow", "XUnmapWindow", "XDestroyWindow", "XClearWindow"):
            getattr(x, f).argtypes = [vp, ul]
        x.XResizeWindow.argtypes = [vp, ul, cu, cu]
        x.XSync.argtypes = [vp, ci]
        x.XPending.argtypes = [vp]
        x.XNextEvent.argtypes = [vp, vp]
        x.XGetWindowAttributes.argtypes = [vp, ul, ctypes.POINTER(XWindowAttributes)]
        x.XGetImage.restype = ctypes.POINTER(XImage)
        x.XGetImage.argtypes = [vp, ul, ci, ci, cu, cu, ul, ci]
        x.XListProperties.restype = ctypes.POINTER(ul)
        x.XListProperties.argtypes = [vp, ul, ctypes.POINTER(ci)]
        x.XFree.argtypes = [vp]
        x.XSetErrorHandler.argtypes = [ERROR_HANDLER]
        x.XConnectionNumber.argtypes = [vp]
        self.errors = []
        self._handler = ERROR_HANDLER(self._on_error)
        x.XSetErrorHandler(self._handler)
        self.display = x.XOpenDisplay(display_name.encode())
        if not self.display:
            raise TestFailure(f"cannot open the display {display_name}")
        self.events = []

    def _on_error(self, _display, event):
        self.errors.append((event.contents.error_code, event.contents.request_code, event.contents.resourceid))
        return 0

    def close(self):
        if self.display:
            self.x.XCloseDisplay(self.display)
            self.display = None

    def screen_count(self):
        return self.x.XScreenCount(self.display)

    def root(self, screen=None):
        return self.x.XRootWindow(self.display, self.x.XDefaultScreen(self.display) if screen is None else screen)

    def sync(self):
        self.x.XSync(self.display, 0)

    def act_as_window_manager(self):
        """Selects substructure redirection on the root window, as a window manager does: from
        then on, another client's request to map, move, resize or restack a top-level window is
        not carried out but reported to us (drain_events collects it)."""
        self.x.XSelectInput(self.display, self.root(), SUBSTRUCTURE_REDIRECT_MASK)
        self.sync()
        check(not self.errors, f"another client already manages the windows: {self.errors}")

    def create_window(self, x, y, width, height, background, depth=None):
        """A top-level window at (x, y); with depth (e.g. 32), of a TrueColor visual of that depth
        when the screen has one. Returns (window id, depth actually used). The window is left
        unmapped. It takes key, button and motion events, as a host's window does, so another
        client asking for button presses on it gets BadAccess."""
        screen = self.x.XDefaultScreen(self.display)
        visual, used_depth, colormap = self.x.XDefaultVisual(self.display, screen), self.x.XDefaultDepth(
            self.display, screen), 0
        if depth is not None:
            info = XVisualInfo()
            if self.x.XMatchVisualInfo(self.display, screen, depth, TRUE_COLOR, ctypes.byref(info)):
                visual, used_depth = info.visual, depth
                colormap = self.x.XCreateColormap(self.display, self.root(), visual, ALLOC_NONE)
        attributes = XSetWindowAttributes()
        attributes.background_pixel = background | (0xFF000000 if used_depth == 32 else 0)
        attributes.border_pixel = 0
        mask = CW_BACK_PIXEL | CW_BORDER_PIXEL
        if colormap:
            attributes.colormap = colormap
            mask |= CW_COLORMAP
        window = self.x.XCreateWindow(self.display, self.root(), x, y, width, height, 0, used_depth, INPUT_OUTPUT,
                                      visual, mask, ctypes.byref(attributes))
        self.x.XSelectInput(self.display, window, KEY_PRESS_MASK | BUTTON_PRESS_MASK | POINTER_MOTION_MASK |
                            STRUCTURE_NOTIFY_MASK | PROPERTY_CHANGE_MASK)
        self.sync()
        check(window and not self.errors, f"cannot create a {width}x{height} window: {self.errors}")
        return window, used_depth

    def map(self, window):
        self.x.XMapWindow(self.display, window)
        self.sync()

    def clear(self, window):
        """Fills the window with its background, so a picture left by an earlier saver is gone."""
        self.x.XClearWindow(self.display, window)
        self.sync()

    def resize(self, window, width, height):
        self.x.XResizeWindow(self.display, window, width, height)
        self.sync()

    def destroy(self, window):
        self.x.XDestroyWindow(self.display, window)
        self.sync()

    def attributes(self, window):
        """(x, y, width, height, map state), or None when the window does not exist."""
        before = len(self.errors)
        a = XWindowAttributes()
        ok = self.x.XGetWindowAttributes(self.display, window, ctypes.byref(a))
        self.sync()
        if not ok or len(self.errors) > before:
            del self.errors[before:]
            return None
        return (a.x, a.y, a.width, a.height, a.map_state)

    def properties(self, window):
        count = ctypes.c_int(0)
        atoms = self.x.XListProperties(self.display, window, ctypes.byref(count))
        result = sorted(atoms[i] for i in range(count.value)) if atoms else []
        if atoms:
            self.x.XFree(atoms)
        return result

    def drain_events(self):
        """Reads the events waiting for us; returns (type, window) of each."""
        event = ctypes.create_string_buffer(192)
        out = []
        while self.x.XPending(self.display):
            self.x.XNextEvent(self.display, event)
            kind = ctypes.c_int.from_buffer(event, 0).value
            # MapRequest and ConfigureRequest carry the window at offset 40 (after type, serial,
            # send_event, display, parent); PropertyNotify carries it at offset 32.
            offset = 32 if kind == PROPERTY_NOTIFY else 40
            out.append((kind, ctypes.c_ulong.from_buffer(event, offset).value))
        return out

    def picture(self, window, width=None, height=None):
        """The window's pixels (24- or 32-bit visuals), or None when they cannot be read."""
        if width is None:
            attributes = self.attributes(window)
            if attributes is None:
                return None
            width, height = attributes[2], attributes[3]
        before = len(self.errors)
        image = self.x.XGetImage(self.display, window, 0, 0, width, height, ALL_PLANES, Z_PIXMAP)
        self.sync()
        if not image or len(self.errors) > before:
            del self.errors[before:]
            return None
        i = image.contents
        check(i.bits_per_pixel == 32, f"unexpected {i.bits_per_pixel} bits per pixel")
        width, height, stride = i.width, i.height, i.bytes_per_line
        rows = memoryview(ctypes.string_at(i.data, stride * height))
        self.x.XFree(i.data)
        self.x.XFree(image)
        words = array.array("I")
        for y in range(height):
            words.frombytes(rows[y * stride:y * stride + 4 * width])
        return Picture(width, height, words)


class Xvfb:
    """A virtual X server on a free display number, one screen per size given."""

    def __init__(self, *sizes):
        if shutil.which("Xvfb") is None:
            skip("Xvfb is not installed")
        read_end, write_end = os.pipe()
        # -noreset: without it the server resets whenever its last client leaves, and a client
        # connecting just then (a daemon starting while a command polls it) is turned away.
        arguments = ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset"]
        for index, size in enumerate(sizes):
            arguments += ["-screen", str(index), f"{size}x24"]
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(arguments, pass_fds=(write_end,), stdout=self.log, stderr=self.log)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        check(number.strip().isdigit(), "Xvfb did not start")
        self.name = f":{number.strip().decode()}"

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Saver:
    """The saver program started with arguments, its standard error collected in a file."""

    def __init__(self, program, arguments, env, cwd=None):
        self.stderr = tempfile.TemporaryFile()
        self.started = time.monotonic()
        self.process = subprocess.Popen([program] + arguments, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                                        stderr=self.stderr)
        self.pid = self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait(self, seconds):
        """The exit status, or None when still running after seconds."""
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def signal(self, number):
        os.kill(self.pid, number)

    def output(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def stop(self):
        if self.running():
            self.process.kill()
            self.process.wait()


def describe_status(status):
    if status is None:
        return "still running"
    if status < 0:
        return f"killed by {signal.Signals(-status).name}"
    return f"exit status {status}"


LSAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")


def sanitizer_options(env):
    """Adds the leak suppressions for libraries the saver loads to env's LSAN_OPTIONS."""
    options = env.get("LSAN_OPTIONS", "")
    env["LSAN_OPTIONS"] = (options + ":" if options else "") + f"suppressions={LSAN_SUPPRESSIONS}"
    return env


def time_allowance(program):
    """How many times longer than a release build a build of program takes to end: sanitizer
    builds draw a frame several times slower."""
    with open(program, "rb") as binary:
        return 4.0 if b"__asan_init" in binary.read() else 1.0


def saver_environment(display, **extra):
    env = sanitizer_options(dict(os.environ))
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("XSCREENSAVER_WINDOW", None)
    env["DISPLAY"] = display
    env.update(extra)
    return env


def wait_for(condition, seconds, step=0.1):
    """Polls condition() until it returns something true or seconds pass; returns its value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def sanitizer_trouble(text):
    """The first line of a sanitizer or crash report in text, or None."""
    for line in text.splitlines():
        if any(mark in line for mark in ("AddressSanitizer", "LeakSanitizer", "runtime error:", "Segmentation")):
            return line
    return None
