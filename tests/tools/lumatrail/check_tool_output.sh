#!/bin/sh
# The tool loads the built module through its entry points, prints what the
# effect itself declares and renders through EffectMain.
set -eu
tool="$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
about=$("$tool" about)
echo "$about" | grep -q '^Lumatrail 1.1' || { echo "About text missing: $about"; exit 1; }
echo "$about" | grep -q 'Corvanta Lumatrail' || { echo "match name missing: $about"; exit 1; }
params=$("$tool" params)
# The 59 stored parameters, and any added after them.
count=$(echo "$params" | sed -n 's/^\([0-9]*\) parameters declared.*/\1/p')
[ -n "$count" ] && [ "$count" -ge 59 ] || { echo "parameter count wrong: $params"; exit 1; }
echo "$params" | grep -q 'Streak Length (px)' || { echo "slider row missing: $params"; exit 1; }
echo "$params" | grep -q 'Off - Full Frame Sort' || { echo "popup choices missing: $params"; exit 1; }
if "$tool" nonsense 2>/dev/null; then echo "unknown command accepted"; exit 1; fi
if "$tool" --plugin /nonexistent/Lumatrail.so about 2>/dev/null; then echo "missing module accepted"; exit 1; fi

"$tool" render --size 64x36 --set direction=radial-out --out "$scratch/card.ppm" >/dev/null
head -c 15 "$scratch/card.ppm" | grep -q 'P6' || { echo "no PPM written"; exit 1; }
[ "$(wc -c < "$scratch/card.ppm")" -eq $((13 + 64 * 36 * 3)) ] || { echo "PPM of the wrong size"; exit 1; }
if msg=$("$tool" render --set streak-lenght=5 --out "$scratch/x.ppm" 2>&1); then echo "misspelt parameter accepted"; exit 1; fi
echo "$msg" | grep -q 'did you mean' || { echo "no suggestion: $msg"; exit 1; }
[ ! -e "$scratch/x.ppm" ] || { echo "a file was written after a failure"; exit 1; }
echo "tool output as expected"
