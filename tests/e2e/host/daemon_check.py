#!/usr/bin/env python3
"""The saver under the real XScreenSaver daemon on a virtual X server with one or more screens.

The daemon refuses to start savers as root, so it runs as `nobody` (as the test's own user when
that is not root), with a temporary HOME whose .xscreensaver lists only our saver
(`programs: PROGRAM --root`). The saver and its data are installed into a world-readable temporary
folder with `cmake --install BUILD --prefix TEMP`, so the saver runs from libexec/xscreensaver/ as
installed and must find its data from there (with --saver and --data they are copied there as
bin/kalvor and share/kalvor/ instead). `xscreensaver-command -activate` must put our picture on
every screen, one saver process per screen, each drawing and changing, none relaunched;
`-deactivate` makes the daemon send SIGTERM, after which every saver is gone within a second with
exit status 0 and leaves no process or shared-memory segment behind. This test makes itself the
savers' subreaper, so the orphans the daemon leaves are reaped here and their status is seen.

    daemon_check.py (--install-from BUILD_DIR | --saver PROGRAM --data DATA_DIR) [--screens N] [--shots DIR]
"""
import argparse
import ctypes
import os
import pwd
import shutil
import subprocess
import tempfile
import time

from xtool import (XClient, Xvfb, check, describe_status, log, run_test, sanitizer_options, sanitizer_trouble, skip,
                   time_allowance, wait_for)

SCREEN_SIZES = ("800x600", "1024x768")
PR_SET_CHILD_SUBREAPER = 36
START_TIMEOUT = 20
END_TIMEOUT = 1.0  # the savers must be gone this long after the deactivate command (release build)
EDGE = 2


def as_nobody(command):
    """The command run as nobody when we are root (the daemon refuses to start savers as root);
    as ourselves otherwise."""
    if os.geteuid() != 0:
        return command
    return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command


def daemon_user():
    return pwd.getpwnam("nobody").pw_uid if os.geteuid() == 0 else os.geteuid()


def install_build(build, folder):
    """Installs the build into folder (cmake --install) and makes the tree readable by all;
    returns the program hosts start."""
    result = subprocess.run(["cmake", "--install", build, "--prefix", folder], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    check(result.returncode == 0, "cmake --install failed:\n" + result.stdout.decode())
    programs = [f"{path}/kalvor" for path, _, files in os.walk(folder) if path.endswith("/xscreensaver")
                and "kalvor" in files]
    check(len(programs) == 1, f"no single xscreensaver/kalvor in the install: {programs}")
    for path, _, files in os.walk(folder):
        os.chmod(path, 0o755)
    return programs[0]


def install_copy(saver, data, folder):
    """Copies the saver and its data to folder as bin/kalvor and share/kalvor/, readable by all."""
    os.makedirs(f"{folder}/bin")
    shutil.copy(saver, f"{folder}/bin/kalvor")
    shutil.copytree(data, f"{folder}/share/kalvor")
    for path, folders, files in os.walk(folder):
        os.chmod(path, 0o755)
        for name in files:
            os.chmod(f"{path}/{name}", 0o755 if name == "kalvor" else 0o644)
    return f"{folder}/bin/kalvor"


def write_settings(home, program):
    os.makedirs(home)
    with open(f"{home}/.xscreensaver", "w") as out:
        out.write("mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\n"
                  "timeout: 0:30:00\ncycle: 0:30:00\n"
                  f"programs: {program} --root \\n\n")
    if os.geteuid() == 0:
        nobody = pwd.getpwnam("nobody")
        for path in (home, f"{home}/.xscreensaver"):
            os.chown(path, nobody.pw_uid, nobody.pw_gid)


def saver_processes(program):
    """Process id -> state letter of every live process running the program (a zombie's program
    can no longer be read, so zombies are not listed)."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            exe = os.readlink(f"/proc/{entry}/exe")
        except OSError:
            continue
        state = process_state(int(entry))
        if exe == program and state not in (None, "Z"):
            found[int(entry)] = state
    return found


def process_state(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return None


def children_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(child) for child in f.read().split()]
    except OSError:
        return []


def shared_memory_of(pids):
    """SysV shared-memory segments created by any of pids that still exist."""
    with open("/proc/sysvipc/shm") as table:
        header = table.readline().split()
        rows = [dict(zip(header, line.split())) for line in table]
    return [row["shmid"] for row in rows if int(row["cpid"]) in pids]


def screen_filled(picture):
    """True when the screen shows a picture, not a blank or a message on black."""
    if picture is None or picture.distinct() < 8 or picture.share(0x000000) > 0.5:
        return False
    w, h = picture.width, picture.height
    strips = [(0, 0, w, EDGE), (0, h - EDGE, w, EDGE), (0, 0, EDGE, h), (w - EDGE, 0, EDGE, h)]
    return all(picture.share(0x000000, strip) < 1.0 for strip in strips)


def save_shot(picture, shots, name):
    if not shots:
        return
    os.makedirs(shots, exist_ok=True)
    path = f"{shots}/{name}.ppm"
    picture.save(path)
    if shutil.which("convert"):
        subprocess.run(["convert", path, path[:-4] + ".png"], check=False)
        os.remove(path)


class Daemon:
    def __init__(self, display, home, work):
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "DISPLAY": display,
                    "KLV_FRAME_REPORT": "1"}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]
        sanitizer_options(self.env)
        self.log_path = f"{work}/daemon.log"
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(as_nobody(["xscreensaver", "-no-splash", "-verbose"]), env=self.env,
                                        cwd=home, stdout=self.log, stderr=subprocess.STDOUT)

    def command(self, *arguments):
        return subprocess.run(as_nobody(["xscreensaver-command"] + list(arguments)), env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=10)

    def text(self):
        with open(self.log_path, errors="replace") as log_file:
            return log_file.read()

    def state(self):
        """What the daemon and its children are doing, for failure messages."""
        lines = []
        for pid in [self.process.pid] + children_of(self.process.pid):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode(errors="replace")
                with open(f"/proc/{pid}/wchan") as f:
                    waiting = f.read()
            except OSError:
                continue
            lines.append(f"pid {pid} state {process_state(pid)} waiting in {waiting or '-'}: {command}")
        return "\n".join(lines)

    def tail(self, lines=40):
        """The end of the daemon's log, for failure messages."""
        return "\n".join(self.text().splitlines()[-lines:])

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def reap(pids, statuses):
    """Collects the exit status of each pid that has become our child (after the daemon's helper
    exits, its orphans come to this process, the subreaper) and ended."""
    for pid in pids:
        if pid in statuses:
            continue
        try:
            done, status = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            continue
        if done:
            statuses[pid] = os.waitstatus_to_exitcode(status)


def run(arguments, work):
    for tool in ("xscreensaver", "xscreensaver-command") + (("setpriv",) if os.geteuid() == 0 else ()):
        if shutil.which(tool) is None:
            skip(f"{tool} is not installed")
    if arguments.install_from:
        program = install_build(os.path.abspath(arguments.install_from), f"{work}/install")
    else:
        check(arguments.saver and arguments.data, "give --install-from BUILD, or --saver and --data")
        program = install_copy(arguments.saver, arguments.data, f"{work}/install")
    home = f"{work}/home"
    write_settings(home, program)
    libc = ctypes.CDLL(None, use_errno=True)
    check(libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0, "cannot become the savers' subreaper")

    xvfb = Xvfb(*SCREEN_SIZES[:arguments.screens])
    daemon = None
    try:
        log(f"== XScreenSaver on {xvfb.name} with {arguments.screens} screen(s), "
            f"run as {pwd.getpwuid(daemon_user()).pw_name}")
        host = XClient(xvfb.name)
        daemon = Daemon(xvfb.name, home, work)
        check(wait_for(lambda: daemon.command("-time").returncode == 0, START_TIMEOUT),
              f"the daemon did not start ({describe_status(daemon.process.poll())}):\n"
              + daemon.state() + "\n" + daemon.tail())
        result = daemon.command("-activate")
        check(result.returncode == 0, f"xscreensaver-command -activate failed: {result.stdout.decode()}")

        savers = wait_for(lambda: (lambda found: found if len(found) >= arguments.screens else None)(
            saver_processes(program)), START_TIMEOUT)
        check(savers, f"expected {arguments.screens} saver process(es), found "
              f"{saver_processes(program)}:\n{daemon.tail()}")
        check(len(savers) == arguments.screens, f"{len(savers)} savers run on {arguments.screens} screen(s):\n"
              + daemon.tail())
        owners = {os.stat(f"/proc/{pid}").st_uid for pid in savers}
        check(owners == {daemon_user()}, f"the savers run as {owners}, not as the daemon's user")
        log(f"  saver processes {sorted(savers)} started by the daemon")

        for screen in range(arguments.screens):
            root = host.root(screen)
            size = SCREEN_SIZES[screen]
            first = wait_for(lambda: (lambda p: p if screen_filled(p) else None)(host.picture(root)), START_TIMEOUT)
            check(first, f"screen {screen} ({size}) does not show the saver's picture:\n{daemon.tail()}")
            save_shot(first, arguments.shots, f"screen{screen}-first")
            later = wait_for(lambda: (lambda p: p if screen_filled(p) and p.digest() != first.digest() else None)(
                host.picture(root)), 5)
            check(later, f"the picture on screen {screen} does not change")
            save_shot(later, arguments.shots, f"screen{screen}-later")
            log(f"  screen {screen} ({size}): our picture fills it and changes")
        host.close()
        time.sleep(1)
        check(set(saver_processes(program)) == set(savers), "the daemon relaunched a saver: "
              f"{sorted(savers)} became {sorted(saver_processes(program))}:\n{daemon.tail()}")

        result = daemon.command("-deactivate")
        deactivated = time.monotonic()
        check(result.returncode == 0, f"xscreensaver-command -deactivate failed: {result.stdout.decode()}")
        statuses = {}

        def all_gone():
            reap(savers, statuses)
            return all(pid in statuses or process_state(pid) in (None, "Z") for pid in savers)

        end_timeout = END_TIMEOUT * time_allowance(program)
        check(wait_for(all_gone, end_timeout, 0.02), f"savers still run {end_timeout} s after -deactivate: "
              f"{saver_processes(program)}")
        gone_after = time.monotonic() - deactivated
        wait_for(lambda: reap(savers, statuses) or len(statuses) == len(savers), 5)
        text = daemon.text()
        for pid in savers:
            check(f"killing pid {pid}" in text, f"the daemon did not report ending saver {pid}:\n{daemon.tail()}")
            check(statuses.get(pid) == 0, f"saver {pid} ended with status {statuses.get(pid)}:\n{daemon.tail()}")
        log(f"  -deactivate: the daemon sent SIGTERM; every saver exited with 0 within {gone_after:.2f} s")
        trouble = sanitizer_trouble(text)
        check(trouble is None, f"a saver reported: {trouble}")
        left = sorted(saver_processes(program))
        check(not left, f"saver processes left behind: {left}")
        segments = shared_memory_of(set(savers))
        check(not segments, f"shared-memory segments of the savers left behind: {segments}")
        for line in text.splitlines():
            if "frames in" in line:
                log(f"  {line.strip()}")
    finally:
        if daemon:
            daemon.stop()
        for pid in saver_processes(program):
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        xvfb.stop()


def main(arguments):
    work = tempfile.mkdtemp(prefix="kalvor-daemon-")
    os.chmod(work, 0o755)
    try:
        run(arguments, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--install-from", metavar="BUILD", help="run the saver as `cmake --install BUILD` puts it")
    parser.add_argument("--saver")
    parser.add_argument("--data")
    parser.add_argument("--screens", type=int, default=1, choices=(1, 2))
    parser.add_argument("--shots", help="write the screens' pictures to this folder")
    parsed = parser.parse_args()
    run_test(lambda: main(parsed))
