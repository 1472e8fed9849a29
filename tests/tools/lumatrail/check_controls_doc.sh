#!/bin/sh
# docs/controls.md is what `lumatrail params --markdown` writes, byte for
# byte: the controls reference follows the effect's own parameter table.
set -eu
tool="$1"
doc="$2"
scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT
"$tool" params --markdown > "$scratch"
if ! cmp -s "$scratch" "$doc"; then
    diff -u "$doc" "$scratch" | head -40 || true
    echo "$doc is out of date: run \`make docs\` (or: lumatrail params --markdown > docs/controls.md)"
    exit 1
fi
echo "controls reference up to date"
