#!/bin/sh
# `make install-user` into a scratch HOME puts exactly the module, Kdenlive's
# description and (with SHOTCUT_FILTERS) Shotcut's panel there, byte for byte
# the committed files; melt then finds the filter in ~/.frei0r-1/lib without
# FREI0R_PATH; `make uninstall-user` takes exactly those files away again and
# leaves everything else.
# Usage: check_install_user.sh SOURCE_DIR FREI0R_MODULE
set -eu
source_dir="$1"
module="$2"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
home="$root/home"
filters="$root/shotcut/qml/filters"
# Another effect and another filter panel are there already, and stay.
mkdir -p "$home/.local/share/kdenlive/effects" "$filters/blur" "$scratch/work"
echo other >"$home/.local/share/kdenlive/effects/other.xml"
echo other >"$filters/blur/meta.qml"
cd "$scratch/work"

# Every file under the scratch root, relative to it.
files() { (cd "$root" && find . -type f | sort); }
files >before.txt

run_make() {
    env -u FREI0R_PATH -u MAKEFLAGS -u MFLAGS -u MAKELEVEL HOME="$home" make -s -C "$source_dir" "$@" FREI0R_MODULE="$module" \
        SHOTCUT_FILTERS="$filters" >make.log 2>&1 || { cat make.log; exit 1; }
}

run_make install-user
files | comm -13 before.txt - >added.txt
cat >expected.txt <<'EOF'
./home/.frei0r-1/lib/lumatrail.so
./home/.local/share/kdenlive/effects/frei0r_lumatrail.xml
./shotcut/qml/filters/lumatrail/meta.qml
./shotcut/qml/filters/lumatrail/ui.qml
EOF
cmp -s added.txt expected.txt || { echo "FAIL: install-user added:"; cat added.txt; exit 1; }
for pair in "$module:.frei0r-1/lib/lumatrail.so" \
    "$source_dir/tools/frei0r/kdenlive/frei0r_lumatrail.xml:.local/share/kdenlive/effects/frei0r_lumatrail.xml"; do
    cmp "${pair%%:*}" "$home/${pair#*:}"
done
cmp "$source_dir/tools/frei0r/shotcut/lumatrail/ui.qml" "$filters/lumatrail/ui.qml"
echo "install-user added exactly the module and the editors' files"

# MLT's default frei0r path holds ~/.frei0r-1/lib: melt finds the filter there.
env -u FREI0R_PATH HOME="$home" melt -query filters >filters.txt 2>/dev/null
grep -q "frei0r.lumatrail" filters.txt || { echo "FAIL: melt does not find frei0r.lumatrail in ~/.frei0r-1/lib"; exit 1; }
echo "melt finds the installed filter"

run_make uninstall-user
files >after.txt
cmp -s before.txt after.txt || { echo "FAIL: after uninstall-user:"; diff before.txt after.txt; exit 1; }
[ ! -e "$filters/lumatrail" ] || { echo "FAIL: $filters/lumatrail is left"; exit 1; }
echo "uninstall-user removed exactly those files"
