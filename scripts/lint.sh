#!/bin/sh
# clang-tidy and cppcheck over the panel's own sources, as BUILD compiles
# them (BUILD/compile_commands.json), then every source of the panel and
# quendra-send compiled for Windows with mingw-w64. Generated files (moc,
# uic, resources) and the build folders are left out. Any finding fails the
# run.
#   scripts/lint.sh [BUILD]
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "lint: $db missing: build first (make build)"; exit 1; }

own='/(common|protocol|serial|settings|window|tests|fuzz|tools|bench)/.*\.cpp$'
files=$(grep -o '"file": *"[^"]*"' "$db" | sed 's/"file": *"//; s/"$//' | grep -E "$own" | grep -v '/build' | sort -u)
echo "lint: $(echo "$files" | wc -l) files"

echo "== clang-tidy"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" $files 2>&1 | grep -v -E '^[0-9]+ warnings? generated|^Suppressed|^Use -header-filter|^Running clang-tidy|^clang-tidy-[0-9]+ -' > "$build/clang-tidy.log" || true
if grep -E 'warning:|error:' "$build/clang-tidy.log"; then
    echo "lint: clang-tidy found the above"
    exit 1
fi

echo "== cppcheck"
# cppcheck refuses a database that names a file missing on disk, such as the
# moc output of a program left out of the default build; it gets the
# entries of the files that exist.
mkdir -p "$build/lint"
python3 - "$db" "$build/lint/compile_commands.json" <<'PY'
import json, os, sys
entries = json.load(open(sys.argv[1]))
present = [e for e in entries
           if os.path.exists(os.path.join(e.get("directory", ""), e["file"]))]
json.dump(present, open(sys.argv[2], "w"))
PY
# Qt's headers are not analysed; --library=qt tells cppcheck what the Qt
# macros mean. The moc output that the tests include stops on purpose when
# Qt's headers are missing, so that directive is not a finding there.
filters=""
for dir in common protocol serial settings window tests fuzz tools bench; do
    filters="$filters --file-filter=$dir/*"
done
cppcheck --quiet --error-exitcode=1 --inline-suppr --library=qt \
    --enable=warning,performance,portability --std=c++17 \
    --suppress=missingIncludeSystem --suppress=unknownMacro \
    --suppress='preprocessorErrorDirective:*_autogen/*' \
    -j "$(nproc)" --project="$build/lint/compile_commands.json" $filters

echo "== mingw-w64"
# The panel and quendra-send compiled for Windows against the same Qt
# headers, syntax only (there is no Qt for Windows here to link with): a
# call that only POSIX has fails here. Each file keeps its flags from the
# build; a file built on POSIX only gives way to its Windows counterpart,
# which takes the flags of its library.
python3 - "$db" "$build/CMakeCache.txt" <<'PY'
import concurrent.futures, json, os, re, shlex, subprocess, sys

# The POSIX-threads flavour, as the MinGW that Qt for Windows is built with
# (MSYS2, the Qt installer): std::thread and std::mutex are there.
mingw = "x86_64-w64-mingw32-g++-posix"
targets = {"quendra_common", "quendra_protocol", "quendra_serial", "quendra_settings", "quendra_window",
           "quendra-panel", "quendra_send", "quendra-send"}
cache = open(sys.argv[2]).read()
windows_only = re.search(r"^QUENDRA_SERIAL_WIN32_SOURCES:INTERNAL=(.*)$", cache, re.M)
windows_only = windows_only.group(1).split(";") if windows_only else []
if not windows_only:
    sys.exit("lint: the build names no Windows sources: configure again (make build)")

jobs = []
for entry in json.load(open(sys.argv[1])):
    args = shlex.split(entry["command"])
    out = args[args.index("-o") + 1]
    target = re.search(r"CMakeFiles/([^/]+)\.dir/", out)
    source = entry["file"]
    if not target or target.group(1) not in targets or "_autogen" in source:
        continue
    flags = []
    rest = iter(args[1:])
    for arg in rest:
        if arg in ("-o", "-c"):
            next(rest, None)
        elif arg == "-isystem":
            path = next(rest, "")
            if not path.endswith("/mkspecs/linux-g++"):
                flags += [arg, path]
        else:
            flags.append(arg)
    if source.endswith("Posix.cpp"):
        continue
    jobs.append((source, entry["directory"], flags))
    if source.endswith("/serial/DeviceLine.cpp"):
        jobs += [(w, entry["directory"], flags) for w in windows_only]

def check(job):
    source, directory, flags = job
    run = subprocess.run([mingw, "-fsyntax-only", *flags, source], cwd=directory,
                         capture_output=True, text=True)
    return source, run.returncode, run.stdout + run.stderr

failed = 0
with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    for source, code, output in pool.map(check, jobs):
        if code != 0:
            failed += 1
            print(output, end="")
print(f"mingw-w64: {len(jobs)} files, {failed} failed")
sys.exit(1 if failed else 0)
PY
echo "lint: clean"
