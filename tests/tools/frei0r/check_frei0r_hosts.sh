#!/bin/sh
# lumatrail.so under the real frei0r hosts, found through FREI0R_PATH:
#   still  ffmpeg renders an opaque RGBA picture at 0.4 s in each render mode,
#          and each frame equals lumatrail render of it at --time 0.4
#   clip   ffmpeg runs a generated two-second clip through the filter into a
#          video file that ffprobe reads back as 50 frames
#   melt   melt renders frames 0 to 3 at 25 fps with parameters by name, and
#          each equals lumatrail render at that frame's time
# Usage: check_frei0r_hosts.sh LUMATRAIL_TOOL still|clip|melt
set -eu
tool="$1"
case_name="$2"
[ -f "${FREI0R_PATH:?FREI0R_PATH names the folder of lumatrail.so}/lumatrail.so" ] ||
    { echo "no lumatrail.so in $FREI0R_PATH"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
quiet="-hide_banner -nostdin -v error -y"

# An opaque RGBA picture: ffmpeg hands the filter RGBA pictures with their
# timestamps (a picture it must convert first reaches the filter without one).
ffmpeg $quiet -f lavfi -i testsrc2=size=160x90:rate=25 -frames:v 1 -pix_fmt rgba still.png

# The raw RGBA bytes of an image file.
raw() { ffmpeg $quiet -i "$1" -f rawvideo -pix_fmt rgba "$2"; }

# lumatrail render of still.png at time $1 with the --set values that follow.
render_cli() {
    time=$1
    out=$2
    shift 2
    set -- "$tool" render still.png --time "$time" "$@"
    "$@" -o "$out.png" >/dev/null
    raw "$out.png" "$out.rgba"
}

same() {
    cmp -s "$1" "$2" || { echo "FAIL: $3: $1 and $2 differ"; exit 1; }
    echo "same: $3"
}

case "$case_name" in
still)
    raw still.png input.rgba
    # ffmpeg takes values by position: Render Mode, Direction, Reverse
    # Direction, Lower Brightness (%) on 0..1 over 0..100, ...
    for look in "classic-lines|vertical|n|0.2:render-mode=classic-lines direction=vertical lower-brightness=20" \
        "force-lines|radial-out:render-mode=force-lines direction=radial-out" \
        "Particles|Horizontal|y:render-mode=particles reverse-direction=on"; do
        params=${look%%:*}
        sets=""
        for s in ${look#*:}; do sets="$sets --set $s"; done
        name=${params%%|*}
        # setpts moves the picture to 10 / 25 = 0.4 s.
        ffmpeg $quiet -i still.png -vf "setpts=PTS+10,frei0r=lumatrail:$params" -frames:v 1 \
            -f rawvideo -pix_fmt rgba "ffmpeg-$name.rgba"
        # shellcheck disable=SC2086
        render_cli 0.4 "cli-$name" $sets
        same "ffmpeg-$name.rgba" "cli-$name.rgba" "ffmpeg $params at 0.4 s"
        if cmp -s "ffmpeg-$name.rgba" input.rgba; then echo "FAIL: $name left the picture as it was"; exit 1; fi
    done
    # The time reaches the effect: particles at 0 s are another frame.
    render_cli 0 cli-particles-0 --set render-mode=particles --set reverse-direction=on
    if cmp -s cli-particles-0.rgba ffmpeg-Particles.rgba; then echo "FAIL: the time did not matter"; exit 1; fi
    ;;
clip)
    ffmpeg $quiet -f lavfi -i testsrc2=size=320x180:rate=25 -t 2 \
        -vf "frei0r=lumatrail:force-lines,format=yuv420p" -c:v mpeg4 clip.mp4
    frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 clip.mp4)
    [ "$frames" = 50 ] || { echo "FAIL: ffprobe reads $frames frames, not 50"; exit 1; }
    echo "clip of $frames frames"
    ;;
melt)
    cat >profile <<EOF
description=160x90 at 25 fps
frame_rate_num=25
frame_rate_den=1
width=160
height=90
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=16
display_aspect_den=9
colorspace=709
EOF
    # Launch Speed 0.3 over 0..1000 px/sec, Stream Size 0.25 over 0..24 px.
    melt -silent -profile profile still.png out=3 -filter frei0r.lumatrail "Render Mode=Particles" \
        "Launch Speed (px/sec)=0.3" "Stream Size (px)=0.25" "Pre-roll Particles=0" \
        -consumer avformat:melt.rgba f=rawvideo pix_fmt=rgba an=1 >melt.log 2>&1 ||
        { cat melt.log; exit 1; }
    size=$((160 * 90 * 4))
    [ "$(wc -c <melt.rgba)" -eq $((4 * size)) ] || { echo "FAIL: melt wrote $(wc -c <melt.rgba) bytes"; exit 1; }
    for frame in 0 1 2 3; do
        dd if=melt.rgba of="melt-$frame.rgba" bs=$size skip=$frame count=1 status=none
        render_cli "$(awk "BEGIN { print $frame / 25 }")" "cli-$frame" --set render-mode=particles --set launch-speed-px-sec=300 \
            --set stream-size-px=6 --set pre-roll-particles=off
        same "melt-$frame.rgba" "cli-$frame.rgba" "melt frame $frame"
    done
    if cmp -s melt-0.rgba melt-3.rgba; then echo "FAIL: the frames do not move"; exit 1; fi
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
