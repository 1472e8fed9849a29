#!/bin/sh
# lumatrail.so as GStreamer's element frei0r-filter-lumatrail, found through
# FREI0R_PATH:
#   widths  pictures 451, 452 and 456 pixels wide (none a multiple of 16, the
#           first odd) held for two frames at 25 fps: the frame at 0 s equals
#           lumatrail render --time 0 and the frame at 0.04 s equals --time 0.04
#   clip    a decoded H.264 clip 452 pixels wide: each frame equals lumatrail
#           render of the decoded picture at the time GStreamer stamps on it,
#           in seconds, with the decoder's libav (and so libavfilter) loaded
#           in the process
# Usage: check_frei0r_gstreamer.sh LUMATRAIL_TOOL widths|clip
set -eu
tool="$1"
case_name="$2"
# shellcheck source=tests/tools/frei0r/frei0r_host_common.sh
. "$(dirname "$0")/frei0r_host_common.sh"
# GStreamer caches the elements it found; a cache of its own sees this lumatrail.so.
export GST_REGISTRY="$scratch/registry.bin"

case "$case_name" in
widths)
    for width in 451 452 456; do
        ffmpeg $quiet -f lavfi -i testsrc2=size=480x300 -frames:v 1 -vf "format=rgba,crop=$width:300:0:0" \
            "in-$width.png"
        gst-launch-1.0 -q filesrc location="in-$width.png" ! pngdec ! imagefreeze num-buffers=2 \
            ! video/x-raw,framerate=25/1 ! videoconvert ! video/x-raw,format=RGBA \
            ! frei0r-filter-lumatrail render-mode=particles direction=vertical reverse-direction=true \
            ! multifilesink location="gst-$width-%d.rgba"
        for frame in 0 1; do
            render_at "in-$width.png" "0.0$((4 * frame))" "cli-$width-$frame" --set render-mode=particles \
                --set direction=vertical --set reverse-direction=on
            same "gst-$width-$frame.rgba" "cli-$width-$frame.rgba" "gst-launch-1.0 ${width}x300 frame $frame"
        done
        if cmp -s "gst-$width-0.rgba" "gst-$width-1.rgba"; then echo "FAIL: the time did not matter"; exit 1; fi
    done
    ;;
clip)
    # libx264 delays the pictures behind its B-frames: the first is stamped 0.08 s.
    ffmpeg $quiet -f lavfi -i testsrc2=size=452x300:rate=25 -t 0.2 -pix_fmt yuv420p -c:v libx264 in.mp4
    decode="filesrc location=in.mp4 ! decodebin ! videoconvert ! video/x-raw,format=RGBA"
    # shellcheck disable=SC2086
    gst-launch-1.0 -q $decode ! multifilesink location=in-%d.rgba
    # shellcheck disable=SC2086
    gst-launch-1.0 -v $decode ! identity silent=false ! frei0r-filter-lumatrail render-mode=particles \
        ! multifilesink location=gst-%d.rgba >gst.log
    sed -n 's/.*identity0:sink.*pts: \([0-9:.]*\),.*/\1/p' gst.log |
        awk -F: '{ printf "%.9f\n", $1 * 3600 + $2 * 60 + $3 }' >stamps
    [ "$(wc -l <stamps)" -eq 5 ] || { echo "FAIL: GStreamer stamped $(wc -l <stamps) frames, not 5"; exit 1; }
    frame=0
    while read -r time; do
        ffmpeg $quiet -f rawvideo -pix_fmt rgba -s 452x300 -i "in-$frame.rgba" "in-$frame.png"
        render_at "in-$frame.png" "$time" "cli-$frame" --set render-mode=particles
        same "gst-$frame.rgba" "cli-$frame.rgba" "gst-launch-1.0 clip frame $frame at $time s"
        frame=$((frame + 1))
    done <stamps
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
