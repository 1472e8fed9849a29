#!/bin/sh
# Renders the pictures listed in DIR/pictures.txt, each from its preset
# DIR/NAME.json, with the lumatrail program given: stills as DIR/NAME.png,
# frame ranges as the animated DIR/NAME.gif (made with ffmpeg). The same
# build renders the same bytes, so the committed pictures are reproduced
# exactly. The photographs are those Debian's python3-skimage installs (see
# docs/gallery/CREDITS.md); LUMATRAIL_PHOTOS names another folder holding them.
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
photos="${LUMATRAIL_PHOTOS:-/usr/lib/python3/dist-packages/skimage/data}"

# The options that give a picture its layer and mask. PICTURE is test or photo
# (the built-in pictures, at SIZE) or a photograph's file, FILE:N for 1/N of
# its size; MASK is -, builtin or a photograph's file.
source_options() {  # source_options PICTURE MASK SIZE
    case "$1" in
    test | photo) o="--card $1 --size $3" ;;
    *:*) o="$photos/${1%:*} --downsample ${1##*:}" ;;
    *) o="$photos/$1" ;;
    esac
    case "$2" in
    -) ;;
    builtin) o="$o --mask builtin" ;;
    *) o="$o --mask $photos/$2" ;;
    esac
    echo "$o"
}

# Fails, saying where they come from, when a photograph named is missing.
require_photos() {  # require_photos PICTURE MASK
    for f in "${1%:*}" "$2"; do
        case "$f" in test | photo | builtin | -) continue ;; esac
        if [ ! -f "$photos/$f" ]; then
            echo "no $photos/$f: the gallery's photographs come with Debian's python3-skimage (make gallery and make test install it)"
            exit 1
        fi
    done
}

# The command that renders one picture, as the index shows it.
command_for() {  # command_for NAME PICTURE MASK TIME SIZE
    c="lumatrail render $(source_options "$2" "$3" "$5")"
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
    require_photos "$picture" "$mask"
    case "$time" in
    *-*)  # an animation: frames at 12 fps into a GIF
        file="$name.gif"
        frames="$scratch/frames-$name"
        mkdir -p "$frames"
        # shellcheck disable=SC2046
        "$tool" render $(source_options "$picture" "$mask" 256x144) --preset "$dir/$name.json" \
            --fps 12 --frames "$time" -o "$frames/f.####.png" --quiet < /dev/null
        ffmpeg -v error -nostdin -y -framerate 12 -start_number "${time%-*}" -i "$frames/f.%04d.png" \
            -filter_complex "[0:v]split[a][b];[a]palettegen=max_colors=64:stats_mode=full[p];[b][p]paletteuse=dither=bayer:bayer_scale=3" \
            -loop 0 -fflags +bitexact -flags +bitexact "$out/$file"
        ;;
    *)
        file="$name.png"
        # shellcheck disable=SC2046
        "$tool" render $(source_options "$picture" "$mask" 384x216) --time "$time" \
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
        echo "photographs that Debian's \`python3-skimage\` installs in \`$photos\`"
        echo "(under free licences; [CREDITS.md](CREDITS.md) gives each one's source, author and licence),"
        echo "most at half their size (\`--downsample 2\`); animations at 12 frames a second. Each"
        echo "caption gives the command that renders it again, byte for byte: add \`-o NAME.png\` (for"
        echo "an animation, \`-o f.####.png\`, then ffmpeg's palettegen and paletteuse, as"
        echo "tools/gallery/render_gallery.sh does). Sizes and lengths in the presets are in the"
        echo "photograph's own pixels, so the look is the same at full size. The controls are"
        echo "described in [the controls reference](../controls.md)."
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
