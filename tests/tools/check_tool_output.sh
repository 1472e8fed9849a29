#!/bin/sh
# The tool loads the built module through its entry points and prints what the
# effect itself declares.
set -eu
tool="$1"
about=$("$tool" about)
echo "$about" | grep -q '^Lumatrail 1.1' || { echo "About text missing: $about"; exit 1; }
echo "$about" | grep -q 'Corvanta Lumatrail' || { echo "match name missing: $about"; exit 1; }
params=$("$tool" params)
echo "$params" | grep -q '^59 parameters declared' || { echo "parameter count wrong: $params"; exit 1; }
echo "$params" | grep -q 'Streak Length (px)' || { echo "slider row missing: $params"; exit 1; }
echo "$params" | grep -q 'Off - Full Frame Sort' || { echo "popup choices missing: $params"; exit 1; }
if "$tool" nonsense 2>/dev/null; then echo "unknown argument accepted"; exit 1; fi
if "$tool" --plugin /nonexistent/Lumatrail.so about 2>/dev/null; then echo "missing module accepted"; exit 1; fi
echo "tool output as expected"
