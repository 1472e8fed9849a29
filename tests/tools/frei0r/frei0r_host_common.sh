# What every script that runs lumatrail.so under a real host shares; sourced
# after `tool` is set to the lumatrail command line. It checks that
# FREI0R_PATH holds the module, moves into a scratch folder removed on exit,
# and defines:
#   raw IMAGE OUT                  the image's raw RGBA bytes into OUT
#   render_at PICTURE TIME OUT ... lumatrail render of PICTURE at TIME, with
#                                  the options that follow, as raw RGBA in OUT.rgba
#   same A B WHAT                  fails naming WHAT unless A and B are equal
# shellcheck shell=sh
[ -f "${FREI0R_PATH:?FREI0R_PATH names the folder of lumatrail.so}/lumatrail.so" ] ||
    { echo "no lumatrail.so in $FREI0R_PATH"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
quiet="-hide_banner -nostdin -v error -y"

raw() { ffmpeg $quiet -i "$1" -f rawvideo -pix_fmt rgba "$2"; }

render_at() {
    picture=$1 time=$2 out=$3
    shift 3
    "$tool" render "$picture" --time "$time" "$@" -o "$out.png" >/dev/null
    raw "$out.png" "$out.rgba"
}

same() {
    cmp -s "$1" "$2" || { echo "FAIL: $3: $1 and $2 differ"; exit 1; }
    echo "same: $3"
}
