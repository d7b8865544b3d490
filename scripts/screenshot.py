#!/usr/bin/env python3
"""Photographs the running panel on a virtual X display.

usage: screenshot.py PANEL SCREENGRAB OUTPUT.png

The panel runs from a private copy of its folder with its own quendra.ini,
whose COM1 is a pseudo-terminal made here, so the port opens and no message
box stands in front of the window.
"""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    panel, grab, output = sys.argv[1:]
    if not shutil.which("xvfb-run"):
        sys.exit("xvfb-run is missing (Debian package xvfb)")

    master, slave = os.openpty()
    try:
        with tempfile.TemporaryDirectory(prefix="quendra-shot-") as folder:
            copy = os.path.join(folder, "quendra-panel")
            shutil.copy2(panel, copy)
            with open(os.path.join(folder, "quendra.ini"), "w") as ini:
                ini.write("[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n"
                          "[Ports]\nCOM1=%s\n" % os.ttyname(slave))
            # The panel and the grabber share one display; the panel goes
            # once its picture is taken. A black root makes the window's
            # edges plain to find.
            script = '"$1" & panel=$!; "$2" "$3" 639; status=$?; kill $panel; exit $status'
            env = dict(os.environ, QT_QPA_PLATFORM="xcb")
            env.pop("QT_SCALE_FACTOR", None)
            result = subprocess.run(
                ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24 -br",
                 "sh", "-c", script, "sh", copy, grab, os.path.abspath(output)],
                env=env)
            if result.returncode != 0:
                sys.exit("no screenshot taken")
    finally:
        os.close(master)
        os.close(slave)
    print("wrote", output)


if __name__ == "__main__":
    main()
