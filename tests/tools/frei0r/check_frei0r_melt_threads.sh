#!/bin/sh
# lumatrail.so under melt at frame sizes and thread settings an editor uses,
# found through FREI0R_PATH:
#   widths     pictures 451, 452 and 456 pixels wide (none a multiple of 16,
#              the first odd): frames 0 and 1 equal lumatrail render at 0 s and 0.04 s
#   real-time  50 frames with the consumer's real_time=1 (one render thread,
#              frame dropping on), -2 (two, each with its own instance) and 2
#              (two, frame dropping on): frames 0 to 5 are the same in all
#              three and equal lumatrail render at each frame's time
#   strips     the filter's threads=0 cuts the frame into horizontal strips,
#              one instance of strip height for all of them: with vertical
#              streaks the frame is not the whole-frame render, and each strip
#              is lumatrail render of that strip alone
# Usage: check_frei0r_melt_threads.sh LUMATRAIL_TOOL widths|real-time|strips
set -eu
tool="$1"
case_name="$2"
# shellcheck source=tests/tools/frei0r/frei0r_host_common.sh
. "$(dirname "$0")/frei0r_host_common.sh"

# An opaque RGBA picture $1 of $2 x $3 pixels and an MLT profile "profile-$2" of its size at 25 fps.
picture() {
    ffmpeg $quiet -f lavfi -i testsrc2=size=480x300 -frames:v 1 -vf "format=rgba,crop=$2:$3:0:0" "$1"
    printf '%s\n' "description=$2x$3 at 25 fps" frame_rate_num=25 frame_rate_den=1 "width=$2" "height=$3" \
        progressive=1 sample_aspect_num=1 sample_aspect_den=1 "display_aspect_num=$2" "display_aspect_den=$3" \
        colorspace=709 >"profile-$2"
}

# melt renders frames 0 to $3 of picture $1 at the size of profile $2 to raw
# RGBA $4, with the consumer properties in $5 and the filter parameters that
# follow; its messages go to melt.log.
melt_render() {
    picture=$1 profile=$2 last=$3 out=$4 consumer=$5
    shift 5
    # shellcheck disable=SC2086
    timeout 120 melt -silent -profile "$profile" "$picture" out="$last" -filter frei0r.lumatrail "$@" \
        -consumer "avformat:$out" f=rawvideo pix_fmt=rgba an=1 $consumer >melt.log 2>&1
}

# Frame $2 of $3 x $4 pixels out of raw RGBA $1 into $5; fails when there are not that many.
frame_of() {
    size=$(($3 * $4 * 4))
    dd if="$1" of="$5" bs=$size skip="$2" count=1 status=none
    [ "$(wc -c <"$5")" -eq $size ] || { echo "FAIL: $1 has no frame $2"; exit 1; }
}

particles="--set render-mode=particles --set direction=vertical --set reverse-direction=on"
case "$case_name" in
widths)
    for width in 451 452 456; do
        picture "in-$width.png" $width 300
        melt_render "in-$width.png" "profile-$width" 1 "melt-$width.rgba" "" "Render Mode=Particles" \
            "Direction=Vertical" "Reverse Direction=1" || { cat melt.log; exit 1; }
        for frame in 0 1; do
            frame_of "melt-$width.rgba" $frame $width 300 "melt-$width-$frame.rgba"
            # shellcheck disable=SC2086
            render_at "in-$width.png" "0.0$((4 * frame))" "cli-$width-$frame" $particles
            same "melt-$width-$frame.rgba" "cli-$width-$frame.rgba" "melt ${width}x300 frame $frame"
        done
    done
    ;;
real-time)
    picture in.png 451 300
    # A positive real_time drops late frames: the file consumer writes the
    # previous picture again. Dropping spares the first frames after a start
    # (a fifth of the 25-frame buffer), and with prefill=29 the two threads
    # take up the first 29 frames before one is written. The clip is longer
    # than that queue (a clip that ends while the queue fills can stop melt
    # before it writes anything), and frames 0 to 5 are compared. At a
    # positive real_time melt 7.12 also fails now and then on its own, without
    # this filter too (it crashes, hangs or writes nothing): such a run is
    # tried again, twice at most; the frames of the run that works must match.
    for real_time in 1 -2 "2 buffer=30 prefill=29"; do
        name=${real_time%% *}
        for try in 1 2 3; do
            melt_render in.png profile-451 49 "melt$name.rgba" "real_time=$real_time" "Render Mode=Particles" \
                "Direction=Vertical" "Reverse Direction=1" &&
                [ "$(wc -c <"melt$name.rgba")" -ge $((6 * 451 * 300 * 4)) ] && break
            cat melt.log
            if [ "$name" -lt 0 ] || [ $try -eq 3 ]; then echo "FAIL: melt real_time=$name wrote no frames"; exit 1; fi
            echo "melt real_time=$name failed on its own; once more"
        done
        for frame in 0 1 2 3 4 5; do frame_of "melt$name.rgba" $frame 451 300 "melt$name-$frame.rgba"; done
    done
    for frame in 0 1 2 3 4 5; do
        # shellcheck disable=SC2086
        render_at in.png "$(awk "BEGIN { print $frame / 25 }")" "cli-$frame" $particles
        for name in 1 -2 2; do same "melt$name-$frame.rgba" "cli-$frame.rgba" "melt real_time=$name frame $frame"; done
    done
    ;;
strips)
    picture in.png 451 300
    # threads=0 takes as many strips as MLT has slice threads: three here.
    export MLT_SLICES_COUNT=3
    melt_render in.png profile-451 0 melt.rgba "" "Direction=Vertical" threads=0 || { cat melt.log; exit 1; }
    render_at in.png 0 whole --set direction=vertical
    if cmp -s melt.rgba whole.rgba; then echo "FAIL: threads=0 rendered the whole frame"; exit 1; fi
    for strip in 0 1 2; do
        ffmpeg $quiet -i in.png -vf "crop=451:100:0:$((100 * strip))" "strip-$strip.png"
        render_at "strip-$strip.png" 0 "cli-strip-$strip" --set direction=vertical
    done
    cat cli-strip-0.rgba cli-strip-1.rgba cli-strip-2.rgba >strips.rgba
    same melt.rgba strips.rgba "melt threads=0: three strips of 100 rows, each rendered alone"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
