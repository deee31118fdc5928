#!/usr/bin/env python3
"""`cmake --install BUILD --prefix TEMP` and what the hosts read from the result: the program
where XScreenSaver, MATE and Xfce look for it, the stand-alone command linking to it, the whole
data set, an XScreenSaver settings file that parses and starts the saver with --root and offers
--fps, --delay and --size, a desktop entry whose Exec and TryExec name the installed program, and
a man page that renders without warnings and names what a user needs.

    install_check.py --build BUILD_DIR
"""
import argparse
import configparser
import filecmp
import gzip
import os
import re
import shutil
import subprocess
import tempfile
import xml.etree.ElementTree as ElementTree

from xtool import check, log, run_test


def cache_value(build, name):
    with open(f"{build}/CMakeCache.txt") as cache:
        for line in cache:
            if line.startswith(f"{name}:"):
                return line.split("=", 1)[1].strip()
    return None


def check_settings_file(path):
    root = ElementTree.parse(path).getroot()
    check(root.tag == "screensaver" and root.get("name") == "kalvor", f"{path}: not the kalvor settings file")
    commands = [c.get("arg") for c in root.iter("command")]
    check(commands == ["--root"], f"{path}: the command arguments are {commands}, not --root")
    arguments = " ".join(e.get("arg", "") + " " + e.get("arg-set", "") for e in root.iter() if e.tag != "command")
    for option in ("--fps", "--delay %", "--size "):
        check(option in arguments, f"{path}: no setting passes {option.strip()}")
    check(root.find("_description") is not None, f"{path}: no description")


def check_desktop_entry(path, program):
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(path)
    fields = entry["Desktop Entry"]
    check(fields.get("Exec") == f"{program} --root", f"{path}: Exec={fields.get('Exec')}")
    check(fields.get("TryExec") == program, f"{path}: TryExec={fields.get('TryExec')}")
    check("Screensaver" in fields.get("Categories", "").split(";"), f"{path}: not in the Screensaver category")
    check(fields.get("Type") == "Application" and fields.get("Name"), f"{path}: Type or Name missing")


def check_man_page(path, program):
    source = gzip.open(path, "rt").read() if path.endswith(".gz") else open(path).read()
    if shutil.which("groff") is None:
        log("  (groff is not installed: the man page is not rendered)")
        return
    warnings = subprocess.run(["groff", "-man", "-ww", "-z"], input=source.encode(), stderr=subprocess.PIPE)
    check(warnings.returncode == 0 and not warnings.stderr, f"{path}: groff warns: {warnings.stderr.decode()}")
    # Rendered as plain text on long lines without hyphenation, so each name stays whole.
    text = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", "-rLL=200n", "-rHY=0"], input=source.encode(),
                          stdout=subprocess.PIPE).stdout.decode()
    for needed in ("--root", "--window-id", "--delay", "--size", "--fps", "--help", "programs:", "GL:", "swayidle",
                   "XSCREENSAVER_WINDOW", program, "FILES", "ENVIRONMENT"):
        check(needed in text, f"{path}: says nothing of {needed}")


def main(arguments):
    build = os.path.abspath(arguments.build)
    prefix = cache_value(build, "CMAKE_INSTALL_PREFIX")
    host_dir = cache_value(build, "KLV_HOST_PROGRAM_DIR")
    check(prefix and host_dir, "the build has no install settings")
    host_dir = host_dir if os.path.isabs(host_dir) else f"{prefix}/{host_dir}"
    program = f"{host_dir}/kalvor"
    with tempfile.TemporaryDirectory() as temp:
        result = subprocess.run(["cmake", "--install", build, "--prefix", temp], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        check(result.returncode == 0, "cmake --install failed:\n" + result.stdout.decode())
        log(f"== installed into {temp} (configured prefix {prefix})")

        def installed(path):
            return temp + path[len(prefix):] if path.startswith(prefix + "/") else temp + path

        check(os.access(installed(program), os.X_OK), f"no program at {installed(program)}")
        standalone = f"{temp}/bin/kalvor-saver"
        check(os.path.islink(standalone) and not os.path.isabs(os.readlink(standalone)),
              "bin/kalvor-saver is not a relative link")
        check(os.path.samefile(standalone, installed(program)), "bin/kalvor-saver does not lead to the program")
        log(f"  {program} and bin/kalvor-saver linking to it")

        # The build tree's settings launcher points into the build; the installed one is its own.
        data = f"{build}/data"
        names = sorted(n for n in os.listdir(data) if n != "settei.exe")
        check(names and all(filecmp.cmp(f"{data}/{n}", f"{temp}/share/kalvor/{n}", shallow=False) for n in names),
              "share/kalvor/ does not hold the generated data set")
        check(os.access(f"{temp}/share/kalvor/settei.exe", os.X_OK), "share/kalvor/ has no settings launcher")
        log(f"  share/kalvor/: the {len(names)} files of the data set")

        check_settings_file(f"{temp}/share/xscreensaver/config/kalvor.xml")
        log("  share/xscreensaver/config/kalvor.xml: --root, --fps, --delay, --size")
        check_desktop_entry(f"{temp}/share/applications/screensavers/kalvor.desktop", program)
        log("  share/applications/screensavers/kalvor.desktop: Exec and TryExec name the program")
        pages = [p for p in os.listdir(f"{temp}/share/man/man6") if re.fullmatch(r"kalvor\.6(\.gz)?", p)]
        check(pages, "no man page kalvor.6")
        check_man_page(f"{temp}/share/man/man6/{pages[0]}", program)
        check(os.path.exists(f"{temp}/share/man/man6/kalvor-saver.{pages[0].split('.', 1)[1]}"),
              "no man page for kalvor-saver")
        log(f"  share/man/man6/{pages[0]}: renders without warnings")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parsed = parser.parse_args()
    run_test(lambda: main(parsed))
