#!/bin/sh
# Starts the module emulator on a pseudo-terminal linked beside the panel,
# then the panel; the emulator stops when the panel does. A quendra.ini that
# wires COM1 to the emulator goes beside the panel only when none is there:
# an operator's own settings are never touched.
# Usage: run-with-panel.sh BUILD_DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
bin="$1/bin"
link="$bin/quendra-module.tty"

if [ ! -e "$bin/quendra.ini" ]; then
    cp "$here/quendra.ini" "$bin/quendra.ini"
elif ! grep -qi '^ *COM[0-9] *= *"\{0,1\}quendra-module.tty' "$bin/quendra.ini"; then
    echo "note: $bin/quendra.ini is your own and names no emulator link;" >&2
    echo "      add COM1=quendra-module.tty under [Ports] to use the emulator." >&2
fi

out=$(mktemp)
"$bin/quendra-emulator" --pty --link "$link" >"$out" &
emulator=$!
trap 'kill $emulator 2>/dev/null || true; rm -f "$out"' EXIT
trap 'exit 130' INT TERM

# The emulator prints its device once the link is in place.
tries=0
while [ ! -s "$out" ]; do
    if ! kill -0 $emulator 2>/dev/null; then
        echo "the module emulator did not start" >&2
        exit 1
    fi
    tries=$((tries + 1))
    if [ $tries -gt 200 ]; then
        echo "the module emulator did not answer" >&2
        exit 1
    fi
    sleep 0.05
done
echo "module emulator on $(cat "$out"), linked as $link"

status=0
"$bin/quendra-panel" || status=$?
exit $status
