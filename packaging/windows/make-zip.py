#!/usr/bin/env python3
"""A zip of a folder that is the same bytes every time for the same files:
names in order, every time the last commit's (SOURCE_DATE_EPOCH, when given,
wins), fixed permissions, the folder's name as the top folder.
    make-zip.py SOURCE_DIR FOLDER OUT.zip"""
import os
import subprocess
import sys
import time
import zipfile


def epoch(source):
    if os.environ.get("SOURCE_DATE_EPOCH", "").isdigit():
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        sys.exit("make-zip.py: no SOURCE_DATE_EPOCH and no git history to take the time from")


def main():
    source, folder, out = sys.argv[1:4]
    # A zip's times are DOS times: local, in two-second steps, from 1980.
    stamp = time.gmtime(max(epoch(source), 315532800))[:6]
    top = os.path.basename(os.path.normpath(folder))
    names = sorted(os.listdir(folder))
    with zipfile.ZipFile(out + ".part", "w") as archive:
        for name in names:
            info = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
            info.create_system = 0
            info.external_attr = 0
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(out + ".part", out)


main()
