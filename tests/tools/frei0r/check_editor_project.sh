#!/bin/sh
# lumatrail.so as the editors on MLT use it, found through FREI0R_PATH:
#   names    the Kdenlive description's parameters are, in order, the frei0r
#            parameters `melt -query filter=frei0r.lumatrail` lists (index and
#            name): every name the editor sets is one MLT knows
#   project  melt renders an MLT project written as Kdenlive writes one (a
#            still in a playlist entry carrying the filter, sliders keyframed
#            in frames and in clock time), and frames 0 to 6 equal `lumatrail
#            render` at each frame's time with the matching keyframed preset
# The keyframed sliders are Launch Speed (0..1000 px/sec) and Stream Size
# (0..24 px): their slider starts at 0, so a frei0r value is units over the
# slider's top in every mapping the filter has had. The keys sit four frames
# apart on values whose interpolation is exact in binary, so MLT's and the
# preset's linear interpolation give the same single-precision units.
# Usage: check_editor_project.sh LUMATRAIL_TOOL KDENLIVE_XML
set -eu
tool="$1"
kdenlive_xml="$2"
# shellcheck source=tests/tools/frei0r/frei0r_host_common.sh
. "$(dirname "$0")/frei0r_host_common.sh"

# names: MLT lists a frei0r filter's parameters by their frei0r names.
melt -query filter=frei0r.lumatrail >query.yml 2>query.log || { cat query.log; exit 1; }
python3 - "$kdenlive_xml" query.yml <<'EOF'
import re
import sys
import xml.etree.ElementTree as ET

described = [p.get("name") for p in ET.parse(sys.argv[1]).getroot().findall("parameter")]
# Each parameter is "- identifier: N" (its frei0r index) followed by "title: NAME".
query = open(sys.argv[2]).read().split("\nparameters:\n", 1)[-1]
indices = re.findall(r"^  - identifier: (\d+)$", query, re.M)
listed = [t.strip().strip("'\"") for t in re.findall(r"^    title: (.+)$", query, re.M)]
if not listed or described != listed or indices != [str(i) for i in range(len(listed))]:
    print(f"FAIL: Kdenlive describes {described}\nmelt lists {listed}")
    sys.exit(1)
print(f"the {len(described)} described parameters are the ones melt lists, in its order")
EOF

# project: a 160x90 still, seven frames at 25 fps.
ffmpeg $quiet -f lavfi -i testsrc2=size=160x90:rate=25 -frames:v 1 -pix_fmt rgba still.png
cat >project.mlt <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<mlt LC_NUMERIC="C" producer="main_bin" version="7.12.0">
  <profile description="160x90 25 fps" width="160" height="90" progressive="1" sample_aspect_num="1"
           sample_aspect_den="1" display_aspect_num="16" display_aspect_den="9" frame_rate_num="25"
           frame_rate_den="1" colorspace="709"/>
  <producer id="producer0" in="0" out="99">
    <property name="length">100</property>
    <property name="resource">still.png</property>
    <property name="kdenlive:id">2</property>
  </producer>
  <playlist id="playlist0">
    <entry producer="producer0" in="00:00:00.000" out="00:00:00.240">
      <property name="kdenlive:id">2</property>
      <filter id="filter0">
        <property name="mlt_service">frei0r.lumatrail</property>
        <property name="kdenlive_id">frei0r.lumatrail</property>
        <property name="Render Mode">Particles</property>
        <property name="Launch Speed (px/sec)">0=0.25;4=0.75</property>
        <property name="Stream Size (px)">00:00:00.000=0.25;00:00:00.160=0.75</property>
        <property name="Pre-roll Particles">0</property>
        <property name="kdenlive:collapsed">0</property>
      </filter>
    </entry>
  </playlist>
  <tractor id="tractor0" in="00:00:00.000" out="00:00:00.240">
    <track producer="playlist0"/>
  </tractor>
</mlt>
EOF
cat >keyframed.json <<'EOF'
{"Render Mode": "Particles", "Launch Speed (px/sec)": [[0, 250], [0.16, 750]],
 "Stream Size (px)": [[0, 6], [0.16, 18]], "Pre-roll Particles": false}
EOF
melt -silent project.mlt -consumer avformat:melt.rgba f=rawvideo pix_fmt=rgba an=1 >melt.log 2>&1 ||
    { cat melt.log; exit 1; }
size=$((160 * 90 * 4))
[ "$(wc -c <melt.rgba)" -eq $((7 * size)) ] || { echo "FAIL: melt wrote $(wc -c <melt.rgba) bytes, not 7 frames"; exit 1; }

# lumatrail render of still.png at frame $1's time, as raw RGBA in $2, with the rest as options.
render_cli() {
    frame=$1 out=$2
    shift 2
    render_at still.png "$(awk "BEGIN { print $frame / 25 }")" "$out" "$@"
}

for frame in 0 1 2 3 4 5 6; do
    dd if=melt.rgba of="melt-$frame.rgba" bs=$size skip=$frame count=1 status=none
    render_cli $frame "cli-$frame" --preset keyframed.json
    cmp -s "melt-$frame.rgba" "cli-$frame.rgba" || { echo "FAIL: melt frame $frame differs from lumatrail render"; exit 1; }
    echo "same: frame $frame"
done
# The keys matter: with the first key's values throughout, frame 3 is another picture.
render_cli 3 held --set render-mode=particles --set launch-speed-px-sec=250 --set stream-size-px=6 \
    --set pre-roll-particles=off
if cmp -s held.rgba melt-3.rgba; then echo "FAIL: the keyframes changed nothing"; exit 1; fi
echo "melt animates the keyframed sliders as the preset does"
