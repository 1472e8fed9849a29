#!/bin/sh
# The editors' description files of the frei0r filter are what `lumatrail
# params` writes, byte for byte, and they parse:
#   Kdenlive  tools/frei0r/kdenlive/frei0r_lumatrail.xml is XML whose every
#             slider's default (the property's frei0r value times its factor)
#             lies in its min..max, whose lists offer their default and show one
#             name per value, and which sets no `threads`
#   Shotcut   tools/frei0r/shotcut/lumatrail/{meta,ui}.qml pass qmllint (Qt 5's
#             syntax check; it does not resolve Shotcut's imports) and set no
#             `threads`
# Usage: check_editor_files.sh LUMATRAIL_TOOL SOURCE_DIR
set -eu
tool="$1"
source_dir="$2"
kdenlive="$source_dir/tools/frei0r/kdenlive/frei0r_lumatrail.xml"
shotcut="$source_dir/tools/frei0r/shotcut/lumatrail"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

stale=0
for pair in "--kdenlive:$kdenlive" "--shotcut-meta:$shotcut/meta.qml" "--shotcut-ui:$shotcut/ui.qml"; do
    flag=${pair%%:*}
    file=${pair#*:}
    "$tool" params "$flag" >"$scratch/generated"
    if ! cmp -s "$scratch/generated" "$file"; then
        diff -u "$file" "$scratch/generated" | head -20 || true
        echo "FAIL: $file is out of date: run \`make docs\` (or: lumatrail params $flag > $file)"
        stale=1
    fi
done
[ "$stale" = 0 ] || exit 1
echo "editor files up to date"

python3 - "$kdenlive" <<'EOF'
import sys
import xml.etree.ElementTree as ET

root = ET.parse(sys.argv[1]).getroot()
problems = []
if root.tag != "effect" or root.get("tag") != "frei0r.lumatrail" or root.get("id") != "frei0r.lumatrail":
    problems.append("the root is not the effect frei0r.lumatrail")
params = root.findall("parameter")
for p in params:
    name, kind = p.get("name"), p.get("type")
    if name == "threads" or p.findtext("name") != name:
        problems.append(f"{name}: shown as {p.findtext('name')!r}")
    if kind == "animated":
        low, high, factor = float(p.get("min")), float(p.get("max")), float(p.get("factor"))
        shown = float(p.get("default")) * factor
        if not (low < high and low <= shown <= high and factor > 0):
            problems.append(f"{name}: default {shown} outside {low}..{high}")
    elif kind == "list":
        values = p.get("paramlist").split(";")
        shown = p.findtext("paramlistdisplay").split(",")
        if p.get("default") not in values or len(shown) != len(values):
            problems.append(f"{name}: list {values} shown as {shown}, default {p.get('default')}")
    elif kind != "bool" or p.get("default") not in ("0", "1"):
        problems.append(f"{name}: type {kind}, default {p.get('default')}")
if len(params) < 10 or problems:
    print("FAIL: " + "; ".join(problems or [f"only {len(params)} parameters"]))
    sys.exit(1)
print(f"Kdenlive description parses: {len(params)} parameters")
EOF

qmllint=/usr/lib/qt5/bin/qmllint
[ -x "$qmllint" ] || { echo "FAIL: no $qmllint (Debian's qtdeclarative5-dev-tools; make test installs it)"; exit 1; }
for file in "$shotcut/meta.qml" "$shotcut/ui.qml"; do
    "$qmllint" "$file" || { echo "FAIL: $file does not parse"; exit 1; }
    if grep -n "threads" "$file"; then echo "FAIL: $file sets threads"; exit 1; fi
done
# qmllint fails on a syntax error, so a broken file cannot pass unseen.
printf 'import QtQuick 2.0\nItem { width: 3 +; }\n' >"$scratch/broken.qml"
if "$qmllint" --silent "$scratch/broken.qml"; then echo "FAIL: qmllint passes a broken file"; exit 1; fi
echo "Shotcut files parse"
