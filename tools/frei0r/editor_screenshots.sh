#!/usr/bin/env bash
# Pictures of the frei0r filter's controls in Kdenlive and Shotcut, for the
# README: installs both editors from Debian (as root), installs the filter for
# a throw-away user home, writes a project of each editor with a short clip,
# opens it under Xvfb and brings up the effect's controls (Kdenlive's project
# holds the effect, and selecting the clip shows its stack; in Shotcut the
# effect is added to the clip through the Filters panel, as a user does), and
# saves that panel as a PNG.
#
#   tools/frei0r/editor_screenshots.sh [OUT_DIR]      (default docs/editors)
#
# Writes OUT_DIR/kdenlive.png and OUT_DIR/shotcut.png. LUMATRAIL_FREI0R names
# the module to show (default build/release/frei0r/lumatrail.so, built with
# `make frei0r` when missing). ONLY=kdenlive or ONLY=shotcut takes one picture.
# Every picture is read back with OCR and refused unless it shows the effect's
# name and its controls; every wait is bounded. Run from the repository root.
set -euo pipefail

PROG=editor_screenshots
OUT_DIR=${1:-docs/editors}
MODULE=${LUMATRAIL_FREI0R:-build/release/frei0r/lumatrail.so}
ONLY=${ONLY:-}
# The editors' description files (KDENLIVE_XML_DIR and SHOTCUT_PANEL_DIR
# may name those of another checkout).
KDENLIVE_XML_DIR=${KDENLIVE_XML_DIR:-tools/frei0r/kdenlive}
SHOTCUT_PANEL_DIR=${SHOTCUT_PANEL_DIR:-tools/frei0r/shotcut/lumatrail}
SHOTCUT_FILTERS=/usr/share/shotcut/qml/filters
PACKAGES=(kdenlive shotcut xvfb xauth xdotool x11-utils imagemagick optipng tesseract-ocr tesseract-ocr-eng ffmpeg)
# The screen, and where the editors put things on it with a fresh
# configuration: each editor's main window is sized to the whole screen.
SCREEN_W=1600
SCREEN_H=1200
# ImageMagick's own tools, not whatever else is first on PATH.
CONVERT=/usr/bin/convert
IMPORT=/usr/bin/import

die() {
    echo "$PROG: $*" >&2
    exit 1
}
say() { echo "$PROG: $*"; }

install_packages() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    [ "$(id -u)" -eq 0 ] || die "packages missing (${missing[*]}): run as root to install them with apt-get"
    say "installing ${missing[*]}"
    apt-get update -q >/dev/null || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null ||
        die "apt-get install ${missing[*]} failed"
}

ensure_module() {
    if [ ! -f "$MODULE" ]; then
        [ -n "${LUMATRAIL_FREI0R:-}" ] && die "$MODULE: no such file"
        say "building $MODULE"
        make frei0r >/dev/null || die "make frei0r failed"
    fi
    [ -f "$MODULE" ] || die "$MODULE: no such file after make frei0r"
    MODULE=$(readlink -f "$MODULE")
}

has_make_target() { grep -q "^$1:" Makefile; }

# The module and Kdenlive's description go into the throw-away home; Shotcut
# reads filter panels only from its own folder, so its panel goes there for
# the run and the folder is put back as it was on exit.
install_filter() {
    if has_make_target install-user; then
        make install-user HOME="$HOME" FREI0R_MODULE="$MODULE" >/dev/null || die "make install-user failed"
    else
        mkdir -p "$HOME/.frei0r-1/lib" "$HOME/.local/share/kdenlive/effects"
        cp "$MODULE" "$HOME/.frei0r-1/lib/lumatrail.so"
        if compgen -G "$KDENLIVE_XML_DIR/*.xml" >/dev/null; then
            cp "$KDENLIVE_XML_DIR"/*.xml "$HOME/.local/share/kdenlive/effects/"
        fi
    fi
    [ -f "$HOME/.frei0r-1/lib/lumatrail.so" ] || die "$HOME/.frei0r-1/lib/lumatrail.so: not installed"
    if [ -f "$SHOTCUT_PANEL_DIR/meta.qml" ] && { [ -z "$ONLY" ] || [ "$ONLY" = shotcut ]; }; then
        if [ -e "$SHOTCUT_FILTERS/lumatrail" ]; then
            mv "$SHOTCUT_FILTERS/lumatrail" "$WORK/shotcut-panel-before"
        fi
        SHOTCUT_INSTALLED=1
        mkdir -p "$SHOTCUT_FILTERS/lumatrail"
        cp "$SHOTCUT_PANEL_DIR"/*.qml "$SHOTCUT_FILTERS/lumatrail/" ||
            die "$SHOTCUT_FILTERS/lumatrail: cannot copy Shotcut's panel there"
    fi
}

cleanup() {
    local pid
    for pid in ${EDITOR_PGID:-} ${XVFB_PID:-}; do
        kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
    done
    if [ -n "${SHOTCUT_INSTALLED:-}" ]; then
        rm -rf "$SHOTCUT_FILTERS/lumatrail"
        if [ -e "$WORK/shotcut-panel-before" ]; then
            mv "$WORK/shotcut-panel-before" "$SHOTCUT_FILTERS/lumatrail"
        fi
    fi
    [ -n "${WORK:-}" ] && rm -rf "$WORK"
}

# Xvfb picks a free display itself and writes its number to fd 3.
start_xvfb() {
    setsid Xvfb -displayfd 3 -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp \
        3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    disown "$XVFB_PID"
    local _
    for _ in $(seq 50); do
        [ -s "$WORK/display" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || die "Xvfb exited: $(tail -1 "$WORK/xvfb.log")"
        sleep 0.2
    done
    [ -s "$WORK/display" ] || die "Xvfb did not start within 10 s"
    DISPLAY=":$(head -1 "$WORK/display")"
    export DISPLAY
}

make_clip() {
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=2" \
        -pix_fmt yuv420p -c:v libx264 "$WORK/clip.mp4" || die "ffmpeg could not make the clip"
}

# The effect's identifier in each editor: the description's id when one is
# installed, else the plain frei0r service.
kdenlive_effect_id() {
    local xml
    for xml in "$HOME"/.local/share/kdenlive/effects/*.xml; do
        [ -f "$xml" ] || continue
        grep -o '<effect[^>]* id="[^"]*"' "$xml" | sed 's/.* id="\([^"]*\)"/\1/' | head -1
        return
    done
    echo frei0r.lumatrail
}

# A Kdenlive 22.12 project (document version 1.04): the bin (the first
# playlist, after the producers it names), one video track holding the clip
# with the effect, and the black track under it.
write_kdenlive_project() {
    local id=$1 clip=$WORK/clip.mp4 p
    {
        echo "<?xml version='1.0' encoding='utf-8'?>"
        echo "<mlt LC_NUMERIC=\"C\" producer=\"main_bin\" version=\"7.12.0\" root=\"$WORK\">"
        echo ' <profile description="640x360 25 fps" width="640" height="360" progressive="1" sample_aspect_num="1"' \
            'sample_aspect_den="1" display_aspect_num="16" display_aspect_den="9" frame_rate_num="25"' \
            'frame_rate_den="1" colorspace="709"/>'
        for p in bin_clip timeline_clip; do
            echo " <producer id=\"$p\" in=\"0\" out=\"49\">"
            echo "  <property name=\"length\">50</property>"
            echo "  <property name=\"resource\">$clip</property>"
            echo "  <property name=\"mlt_service\">avformat-novalidate</property>"
            echo "  <property name=\"kdenlive:id\">2</property>"
            echo "  <property name=\"kdenlive:clip_type\">0</property>"
            echo "  <property name=\"kdenlive:folderid\">-1</property>"
            echo " </producer>"
        done
        cat <<XML
 <producer id="black_track" in="0" out="49">
  <property name="length">2147483647</property>
  <property name="resource">black</property>
  <property name="mlt_service">color</property>
  <property name="kdenlive:playlistid">black_track</property>
  <property name="mlt_image_format">rgba</property>
  <property name="set.test_audio">0</property>
 </producer>
 <playlist id="main_bin">
  <property name="kdenlive:docproperties.version">1.04</property>
  <property name="kdenlive:docproperties.activeTrack">1</property>
  <property name="kdenlive:docproperties.videoTarget">1</property>
  <property name="kdenlive:docproperties.audioTarget">-1</property>
  <property name="kdenlive:docproperties.position">25</property>
  <property name="kdenlive:docproperties.zoom">4</property>
  <property name="kdenlive:docproperties.zonein">0</property>
  <property name="kdenlive:docproperties.zoneout">49</property>
  <property name="xml_retain">1</property>
  <entry producer="bin_clip" in="0" out="49"/>
 </playlist>
 <playlist id="video_clips">
  <entry producer="timeline_clip" in="0" out="49">
   <property name="kdenlive:id">2</property>
   <filter id="lumatrail">
    <property name="mlt_service">frei0r.lumatrail</property>
    <property name="kdenlive_id">$id</property>
   </filter>
  </entry>
 </playlist>
 <playlist id="video_empty"/>
 <tractor id="video_track" in="0" out="49">
  <property name="kdenlive:trackheight">69</property>
  <track hide="audio" producer="video_clips"/>
  <track hide="audio" producer="video_empty"/>
 </tractor>
 <tractor id="timeline" in="0" out="49">
  <track producer="black_track"/>
  <track producer="video_track"/>
 </tractor>
</mlt>
XML
    } >"$WORK/lumatrail.kdenlive"
}

# A Shotcut project: a background track and one video track holding the clip.
# The effect is added through Shotcut's Filters panel, as a user adds it, so
# that its panel sets the defaults it gives a new filter.
write_shotcut_project() {
    cat >"$WORK/lumatrail.mlt" <<XML
<?xml version="1.0" standalone="no"?>
<mlt LC_NUMERIC="C" version="7.12.0" title="Shotcut version 22.12.21" producer="main_bin">
  <profile description="640x360 25 fps" width="640" height="360" progressive="1" sample_aspect_num="1"
    sample_aspect_den="1" display_aspect_num="16" display_aspect_den="9" frame_rate_num="25" frame_rate_den="1"
    colorspace="709"/>
  <playlist id="main_bin">
    <property name="xml_retain">1</property>
  </playlist>
  <producer id="black" in="0" out="49">
    <property name="length">50</property>
    <property name="resource">0</property>
    <property name="mlt_service">color</property>
    <property name="mlt_image_format">rgba</property>
    <property name="set.test_audio">0</property>
  </producer>
  <playlist id="background">
    <entry producer="black" in="0" out="49"/>
  </playlist>
  <chain id="clip" out="49">
    <property name="length">50</property>
    <property name="resource">$WORK/clip.mp4</property>
    <property name="mlt_service">avformat-novalidate</property>
    <property name="shotcut:caption">clip.mp4</property>
  </chain>
  <playlist id="video_clips">
    <property name="shotcut:video">1</property>
    <property name="shotcut:name">V1</property>
    <entry producer="clip" in="0" out="49"/>
  </playlist>
  <tractor id="timeline" title="Shotcut version 22.12.21" in="0" out="49">
    <property name="shotcut">1</property>
    <track producer="background"/>
    <track producer="video_clips"/>
  </tractor>
</mlt>
XML
}

# The top-level windows as "id name" lines.
window_list() { xwininfo -root -children 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": (.*/\1 \2/p'; }

# Starts an editor in a session of its own (its own D-Bus too) and waits, at
# most TIMEOUT seconds, for its main window titled after the project.
open_editor() {
    local title=$1 timeout=$2 _
    shift 2
    setsid env HOME="$HOME" TMPDIR="$TMPDIR" XDG_RUNTIME_DIR="$WORK/run" DISPLAY="$DISPLAY" \
        dbus-run-session -- "$@" >"$WORK/$1.log" 2>&1 &
    EDITOR_PGID=$!
    disown "$EDITOR_PGID"
    for _ in $(seq "$timeout"); do
        WINDOW=$(window_list | awk -v t="$title" 'index($0, " " t) { print $1; exit }')
        [ -n "$WINDOW" ] && return 0
        kill -0 "$EDITOR_PGID" 2>/dev/null ||
            die "$1 exited before showing $title (log: $(tail -1 "$WORK/$1.log"))"
        sleep 1
    done
    die "$1 showed no window titled '$title' within $timeout s; windows: $(window_list | cut -d' ' -f2- | paste -sd'|')"
}

close_editor() {
    kill -KILL -- "-$EDITOR_PGID" 2>/dev/null || true
    EDITOR_PGID=
}

click() {
    xdotool mousemove "$1" "$2" click 1
    sleep "${3:-2}"
}

# Captures the screen and crops the panel at GEOMETRY (WxH+X+Y) into
# $WORK/panel.png; fails unless OCR finds the effect's name and some of its
# controls there.
panel_shows_effect() {
    local geometry=$1 text
    "$IMPORT" -window root "$WORK/screen.png" || die "import could not capture the screen"
    "$CONVERT" "$WORK/screen.png" -crop "$geometry" +repage "$WORK/panel.png" || die "convert could not crop"
    # Both editors draw light text on a dark theme: OCR reads it better dark
    # on light and enlarged.
    "$CONVERT" "$WORK/panel.png" -colorspace Gray -negate -resize 200% "$WORK/ocr.png" || die "convert failed"
    text=$(tesseract "$WORK/ocr.png" - 2>/dev/null | tr '[:upper:]' '[:lower:]')
    grep -q lumatrai <<<"$text" && grep -Eq 'brightness|streak|render mode' <<<"$text"
}

# Runs the command ACTIONS... (the clicks that bring up the effect's panel)
# and checks the panel, up to three times while the editor is still busy;
# then saves the panel as OUT.
capture_panel() {
    local editor=$1 geometry=$2 out=$3 keep attempt
    shift 3
    keep=$TMPDIR_OUTSIDE/lumatrail-$editor-screen.png
    for attempt in 1 2 3; do
        "$@"
        panel_shows_effect "$geometry" && break
        if [ "$attempt" -eq 3 ]; then
            cp "$WORK/screen.png" "$keep"
            die "$editor shows no Lumatrail controls at $geometry (the screen is in $keep)"
        fi
        sleep 10
    done
    mkdir -p "$(dirname "$out")"
    "$CONVERT" "$WORK/panel.png" -strip "$out" || die "$out: cannot write"
    optipng -quiet -o5 "$out" || die "$out: optipng failed"
    say "wrote $out ($(($(stat -c %s "$out") / 1024)) KB)"
}

# Kdenlive with a fresh configuration on a 1600x1200 screen: the splitter
# left of the right-hand docks is dragged left to widen them; the clip sits at
# the start of track V1, and selecting it raises the Effect/Composition Stack
# with its effects.
kdenlive_select_clip() { click 300 555 3; }

shoot_kdenlive() {
    write_kdenlive_project "$(kdenlive_effect_id)"
    open_editor "lumatrail / " 120 kdenlive "$WORK/lumatrail.kdenlive"
    xdotool windowsize "$WINDOW" "$SCREEN_W" "$SCREEN_H"
    sleep 8
    xdotool mousemove 1207 791 mousedown 1 sleep 0.3 mousemove 1100 791 sleep 0.3 \
        mousemove 1000 791 sleep 0.3 mouseup 1
    sleep 1
    capture_panel kdenlive 598x724+1002+416 "$OUT_DIR/kdenlive.png" kdenlive_select_clip
    close_editor
}

# Shotcut with a fresh configuration: the clip sits at the start of V1 in the
# timeline at the bottom; with it selected, the Filters tab at the left, its
# + button and a search for the effect list Lumatrail, and choosing it adds
# the effect and shows its panel. Added once: a retry only looks again.
shotcut_add_filter() {
    [ -z "${SHOTCUT_ADDED:-}" ] || return 0
    SHOTCUT_ADDED=1
    click 164 1058
    click 103 908
    click 22 289
    xdotool type --delay 50 lumatrail
    sleep 2
    click 92 205 4
}

shoot_shotcut() {
    [ -f "$SHOTCUT_FILTERS/lumatrail/meta.qml" ] ||
        die "$SHOTCUT_PANEL_DIR/meta.qml: no such file, and Shotcut lists no frei0r filter without it"
    write_shotcut_project
    open_editor "lumatrail.mlt - Shotcut" 120 shotcut "$WORK/lumatrail.mlt"
    xdotool windowsize "$WINDOW" "$SCREEN_W" "$SCREEN_H"
    sleep 8
    capture_panel shotcut 614x786+0+84 "$OUT_DIR/shotcut.png" shotcut_add_filter
    close_editor
}

main() {
    if [ ! -f Makefile ] || [ ! -d tools/frei0r ]; then
        die "run from the repository root"
    fi
    install_packages
    ensure_module
    TMPDIR_OUTSIDE=${TMPDIR:-/tmp}
    WORK=$(mktemp -d "$TMPDIR_OUTSIDE/lumatrail-editors.XXXXXX") || die "mktemp failed"
    trap cleanup EXIT
    export HOME=$WORK/home TMPDIR=$WORK/tmp
    mkdir -p "$HOME" "$TMPDIR" "$WORK/run"
    chmod 700 "$WORK/run"
    install_filter
    make_clip
    start_xvfb
    [ "$ONLY" = shotcut ] || shoot_kdenlive
    [ "$ONLY" = kdenlive ] || shoot_shotcut
}

main "$@"
