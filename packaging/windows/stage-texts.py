#!/usr/bin/env python3
"""The texts that ship beside the Windows programs, in Windows line ends:
README.txt, LICENSE.txt, and QT-LICENSE.txt (Qt's licence, what the static
Qt was built from and where its source is, and the notices of the libraries
Qt carries inside it).
    stage-texts.py SOURCE_DIR QT_BUILD_INFO STAGE_DIR"""
import json
import os
import sys


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(crlf(text))


# Parts of Qt's source that a Windows build against the options of
# build-qt.sh leaves out: other systems' code, and the features turned off.
NOT_BUILT = ("android", "cocoa", "/mac", "/ios", "wasm", "xcb", "xkb", "x11", "dbus", "gradle",
             "vulkan", "libjpeg", "opengl", "valgrind", "linuxperf", "testlib")


def attributions(qt_source):
    """Every qt_attribution.json entry of the libraries in a Windows build of
    Qt's source, with its licence text, sorted by name."""
    entries = []
    for folder, _, files in os.walk(os.path.join(qt_source, "src")):
        if "qt_attribution.json" not in files:
            continue
        if any(part in folder.lower() for part in NOT_BUILT):
            continue
        data = json.loads(open(os.path.join(folder, "qt_attribution.json"), encoding="utf-8").read(),
                          strict=False)
        for entry in data if isinstance(data, list) else [data]:
            licence = ""
            for name in str(entry.get("LicenseFile", "")).split(";"):
                path = os.path.join(folder, name.strip())
                if name.strip() and os.path.isfile(path):
                    licence += open(path, encoding="utf-8", errors="replace").read()
            entries.append((entry.get("Name", entry.get("Id", "?")), entry, licence))
    return sorted(entries, key=lambda e: (e[0].lower(), e[1].get("Version", "")))


def main():
    source, build_info, stage = sys.argv[1:4]
    write(os.path.join(stage, "README.txt"), open(os.path.join(source, "README.md"),
                                                   encoding="utf-8").read())
    write(os.path.join(stage, "LICENSE.txt"), open(os.path.join(source, "LICENSE"),
                                                    encoding="utf-8").read())

    info = open(build_info, encoding="utf-8").read()
    qt_source = ""
    for line in info.splitlines():
        if line.startswith("Source tree: "):
            qt_source = line[len("Source tree: "):]
    text = ("The Quendra programs for Windows (quendra-panel.exe, quendra-send.exe) contain\n"
            "the Qt toolkit, linked in statically, under the GNU Lesser General Public\n"
            "License version 3 (below). You may replace it: the source of the programs\n"
            "and how they are built against Qt (make windows) are in the project's\n"
            "repository, and Qt's source is named here.\n\n")
    text += "".join(l + "\n" for l in info.splitlines() if not l.startswith("Source tree: "))
    text += "\n"
    for name in ("LICENSES/LGPL-3.0-only.txt", "LICENSES/GPL-3.0-only.txt"):
        path = os.path.join(qt_source, name)
        if not os.path.isfile(path):
            sys.exit(f"stage-texts.py: {path} is missing")
        text += "=" * 72 + f"\n{name}\n" + "=" * 72 + "\n" + open(path, encoding="utf-8").read()
        text += "\n"
    text += "=" * 72 + "\nLibraries inside Qt\n" + "=" * 72 + "\n"
    for name, entry, licence in attributions(qt_source):
        text += "\n" + "-" * 72 + f"\n{name} {entry.get('Version', '')}".rstrip() + "\n"
        if entry.get("License"):
            text += f"License: {entry['License']}\n"
        if entry.get("Copyright"):
            text += f"{entry['Copyright']}\n"
        if licence:
            text += "\n" + licence.rstrip() + "\n"
    write(os.path.join(stage, "QT-LICENSE.txt"), text)


main()
