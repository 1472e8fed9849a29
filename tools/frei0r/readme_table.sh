#!/bin/sh
# The README's table of frei0r parameters is what `lumatrail params --frei0r`
# writes, between the two marker lines:
#   <!-- frei0r parameters: lumatrail params --frei0r (make docs) -->
#   <!-- end of frei0r parameters -->
# Usage: readme_table.sh LUMATRAIL_TOOL README [--check]
# Rewrites the table in README, or with --check fails when it differs.
set -eu
tool="$1"
readme="$2"
start='<!-- frei0r parameters: lumatrail params --frei0r (make docs) -->'
end='<!-- end of frei0r parameters -->'
if [ "$(grep -cxF "$start" "$readme")" != 1 ] || [ "$(grep -cxF "$end" "$readme")" != 1 ]; then
    echo "$readme: the frei0r table's marker lines are missing or repeated"
    exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$tool" params --frei0r >"$scratch/table"
# The README with the lines between the markers replaced by the table.
awk -v start="$start" -v end="$end" -v table="$scratch/table" '
    $0 == end { inside = 0 }
    !inside { print }
    $0 == start { inside = 1; while ((getline line < table) > 0) print line }
' "$readme" >"$scratch/readme"
if [ "${3:-}" = --check ]; then
    if ! cmp -s "$readme" "$scratch/readme"; then
        diff -u "$readme" "$scratch/readme" | head -40 || true
        echo "$readme: the frei0r table is out of date: run \`make docs\`"
        exit 1
    fi
    echo "frei0r table up to date"
else
    cat "$scratch/readme" >"$readme"
fi
