#!/bin/sh
# clang-tidy and cppcheck over the panel's own sources, as BUILD compiles
# them (BUILD/compile_commands.json). Generated files (moc, uic, resources)
# and the build folders are left out. Any finding fails the run.
#   scripts/lint.sh [BUILD]
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "lint: $db missing: build first (make build)"; exit 1; }

own='/(protocol|serial|settings|window|tests|fuzz|tools|bench)/.*\.cpp$'
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
for dir in protocol serial settings window tests fuzz tools bench; do
    filters="$filters --file-filter=$dir/*"
done
cppcheck --quiet --error-exitcode=1 --inline-suppr --library=qt \
    --enable=warning,performance,portability --std=c++17 \
    --suppress=missingIncludeSystem --suppress=unknownMacro \
    --suppress='preprocessorErrorDirective:*_autogen/*' \
    -j "$(nproc)" --project="$build/lint/compile_commands.json" $filters
echo "lint: clean"
