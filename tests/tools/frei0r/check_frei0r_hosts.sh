#!/bin/sh
# lumatrail.so under the real frei0r hosts, found through FREI0R_PATH:
#   still  ffmpeg renders an opaque RGBA picture at 0.4 s in each render mode,
#          and each frame equals lumatrail render of it at --time 0.4
#   clip   ffmpeg runs a generated two-second clip through the filter into a
#          video file that ffprobe reads back as 50 frames
#   melt   melt renders frames 0 to 3 at 25 fps with parameters by name, and
#          each equals lumatrail render at that frame's time
#   widths ffmpeg at widths it pads the rows of (451, 452 = 8k+4, 456 =
#          16k+8): plain frei0r=lumatrail fails with the filter's one line
#          and writes nothing; the chain that line names (pad to a multiple
#          of 16, the filter, crop back) equals lumatrail render of the padded
#          picture cropped back
# Usage: check_frei0r_hosts.sh LUMATRAIL_TOOL still|clip|melt|widths
set -eu
tool="$1"
case_name="$2"
# shellcheck source=tests/tools/frei0r/frei0r_host_common.sh
. "$(dirname "$0")/frei0r_host_common.sh"

# An opaque RGBA picture: ffmpeg hands the filter RGBA pictures with their
# timestamps (a picture it must convert first reaches the filter without one).
ffmpeg $quiet -f lavfi -i testsrc2=size=160x90:rate=25 -frames:v 1 -pix_fmt rgba still.png

# lumatrail render of still.png at time $1 into $2.rgba, with the --set values that follow.
render_cli() {
    time=$1 out=$2
    shift 2
    render_at still.png "$time" "$out" "$@"
}

case "$case_name" in
still)
    raw still.png input.rgba
    # ffmpeg takes values by position (0 Render Mode, 1 Direction, 2 Reverse
    # Direction, 3 Lower Brightness (%) over 100, ..., 29 and 30 Center X and
    # Y (%) over 100, 0 to 1 left to right; 36 Wind Direction (deg) over a
    # turn, 37 Wind Strength over 1500).
    # Positions 3 to 28 at their defaults, as the README's table gives them.
    defaults="0.08|1|0.32|0.35|0.042|1|n|off|left-to-right|0.5|0.3|0.5|0.15|over-original"
    defaults="$defaults|0.1875|0.125|0.41666667|0.26|0.2|0.375|1|0|0.25|0.85|y|0"
    for look in "classic-lines|vertical|n|0.2:render-mode=classic-lines direction=vertical lower-brightness=20" \
        "force-lines|radial-out|n|$defaults|0.25|0.75:render-mode=force-lines direction=radial-out center-x=25 center-y=75" \
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
    # Launch Speed 0.3 of its slider's 1000 px/sec, Stream Size 0.25 of 24 px.
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
widths)
    for width in 451 452 456; do
        padded=$(((width + 15) / 16 * 16))
        rm -f ./*.png ./*.rgba
        # testsrc2 makes even widths only: a wider picture, cropped in RGBA.
        ffmpeg $quiet -f lavfi -i "testsrc2=size=${padded}x90:rate=25" -vf "format=rgba,crop=$width:90:0:0" \
            -frames:v 1 photo.png
        if ffmpeg $quiet -i photo.png -vf frei0r=lumatrail -update 1 plain.png 2>plain.log; then
            echo "FAIL: ffmpeg ran frei0r=lumatrail at width $width"
            exit 1
        fi
        [ ! -e plain.png ] || { echo "FAIL: ffmpeg wrote plain.png at width $width"; exit 1; }
        chain="pad=$padded:90,frei0r=lumatrail,crop=$width:90:0:0"
        line="lumatrail: ffmpeg pads the rows of a picture $width pixels wide and a frei0r filter cannot see the padding; pad the width to a multiple of 16 first and crop back: -vf \"$chain\""
        if [ "$(grep -c '^lumatrail:' plain.log)" != 1 ] || ! grep -qxF "$line" plain.log; then
            cat plain.log
            echo "FAIL: not the one line naming the fix at width $width"
            exit 1
        fi
        # The fix, as the line gives it, against lumatrail render of the padded
        # picture cropped back: the pad pixels take part in the effect.
        ffmpeg $quiet -i photo.png -vf "$chain" -update 1 fixed.png
        raw fixed.png fixed.rgba
        ffmpeg $quiet -i photo.png -vf "pad=$padded:90" padded.png
        "$tool" render padded.png -o cli-padded.png >/dev/null
        ffmpeg $quiet -i cli-padded.png -vf "crop=$width:90:0:0" -f rawvideo -pix_fmt rgba cli.rgba
        same fixed.rgba cli.rgba "ffmpeg $chain"
        raw photo.png photo.rgba
        if cmp -s fixed.rgba photo.rgba; then echo "FAIL: the effect left the picture as it was"; exit 1; fi
    done
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
