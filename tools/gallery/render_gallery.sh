#!/bin/sh
# Renders the pictures listed in DIR/pictures.txt, each from its preset
# DIR/NAME.json, with the lumatrail program given: stills as DIR/NAME.png,
# frame ranges as the animated DIR/NAME.gif (made with ffmpeg). The same
# build renders the same bytes, so the committed pictures are reproduced
# exactly.
#
#   render_gallery.sh LUMATRAIL DIR [--index] [NAME...]
#       renders the pictures (all, or those named) into DIR; --index also
#       writes DIR/index.md, the captioned grid of every picture
#   render_gallery.sh LUMATRAIL DIR --check [NAME...]
#       renders into a scratch folder and fails, naming them, when any
#       differs from the file in DIR
set -eu
tool="$1"
dir="$2"
shift 2
mode=render
case "${1:-}" in
--index) mode=index; shift ;;
--check) mode=check; shift ;;
esac
manifest="$dir/pictures.txt"
[ -f "$manifest" ] || { echo "no $manifest"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out="$dir"
[ "$mode" = check ] && out="$scratch/out" && mkdir -p "$out"

wanted() {  # wanted NAME: the name is one of those on the command line
    for n in $names; do [ "$n" = "$1" ] && return 0; done
    return 1
}
names="$*"

# The command that renders one picture, as the index shows it.
command_for() {  # command_for NAME PICTURE MASK TIME SIZE
    c="lumatrail render --card $2 --size $5"
    [ "$3" = - ] || c="$c --mask $3"
    case "$4" in
    *-*) c="$c --fps 12 --frames $4" ;;
    0) ;;
    *) c="$c --time $4" ;;
    esac
    echo "$c --preset $dir/$1.json"
}

failed=""
count=0
while read -r name picture mask time caption; do
    case "$name" in '' | '#'*) continue ;; esac
    if [ -n "$names" ] && ! wanted "$name"; then continue; fi
    count=$((count + 1))
    mask_option=""
    [ "$mask" = - ] || mask_option="--mask $mask"
    case "$time" in
    *-*)  # an animation: frames at 12 fps into a GIF
        file="$name.gif"
        frames="$scratch/frames-$name"
        mkdir -p "$frames"
        # shellcheck disable=SC2086
        "$tool" render --card "$picture" --size 256x144 $mask_option --preset "$dir/$name.json" \
            --fps 12 --frames "$time" -o "$frames/f.####.png" --quiet < /dev/null
        ffmpeg -v error -nostdin -y -framerate 12 -start_number "${time%-*}" -i "$frames/f.%04d.png" \
            -filter_complex "[0:v]split[a][b];[a]palettegen=max_colors=64:stats_mode=full[p];[b][p]paletteuse=dither=bayer:bayer_scale=3" \
            -loop 0 -fflags +bitexact -flags +bitexact "$out/$file"
        ;;
    *)
        file="$name.png"
        # shellcheck disable=SC2086
        "$tool" render --card "$picture" --size 384x216 $mask_option --time "$time" \
            --preset "$dir/$name.json" -o "$out/$file" --quiet < /dev/null
        ;;
    esac
    if [ "$mode" = check ] && ! cmp -s "$out/$file" "$dir/$file"; then failed="$failed $file"; fi
done < "$manifest"

if [ "$count" -eq 0 ]; then echo "no picture of $manifest is named $names"; exit 1; fi
if [ -n "$failed" ]; then
    echo "rendered differently from the files in $dir:$failed (run \`make gallery\` after an intended change of a look)"
    exit 1
fi

if [ "$mode" = index ]; then
    {
        echo "# Gallery"
        echo
        echo "<!-- Written by \`make gallery\` from pictures.txt; edit that and the presets, not this file. -->"
        echo
        echo "Every picture is rendered by \`make gallery\` from the preset beside it, on one of the"
        echo "project's built-in pictures (\`--card photo\` or the test card, \`--card test\`), at"
        echo "384x216 (animations at 256x144, 12 frames a second). Each caption gives the command"
        echo "that renders it again, byte for byte: add \`-o NAME.png\` (for an animation, \`-o f.####.png\`,"
        echo "then ffmpeg's palettegen and paletteuse, as tools/gallery/render_gallery.sh does). The"
        echo "controls are described in [the controls reference](../controls.md)."
        echo
        echo "| | | |"
        echo "|---|---|---|"
        row=""
        column=0
        while read -r name picture mask time caption; do
            case "$name" in '' | '#'*) continue ;; esac
            case "$time" in *-*) file="$name.gif" size=256x144 ;; *) file="$name.png" size=384x216 ;; esac
            cell="![$name]($file)<br>**$name**: $caption<br>\`$(command_for "$name" "$picture" "$mask" "$time" "$size")\`"
            row="$row| $cell "
            column=$((column + 1))
            if [ "$column" -eq 3 ]; then
                echo "$row|"
                row=""
                column=0
            fi
        done < "$manifest"
        if [ "$column" -ne 0 ]; then
            while [ "$column" -lt 3 ]; do row="$row| "; column=$((column + 1)); done
            echo "$row|"
        fi
    } > "$dir/index.md"
fi
echo "$count pictures $( [ "$mode" = check ] && echo "as committed" || echo "rendered into $dir")"
