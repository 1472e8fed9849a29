#!/bin/sh
# Dependencies point one way: host/ -> frame/ -> streams/ -> engine/. A folder
# includes nothing from the folders above it, and engine/ and streams/ know
# nothing of the host's records. The tools stay in their rooms.
set -eu
cd "$1"
status=0
forbid() {  # forbid FOLDER PATTERN...
    folder=$1
    shift
    for pattern in "$@"; do
        if found=$(grep -rn "#include \"$pattern/" "$folder"); then
            echo "$folder/ must not include $pattern/:"
            echo "$found"
            status=1
        fi
    done
}
forbid engine host frame streams offline tools
forbid streams host frame offline tools
forbid frame host offline tools
forbid host offline tools
# The tools reach the offline host and the host's tables, never the engine,
# the streams or the command line's rooms from another tool.
forbid tools engine streams
forbid tools/frei0r tools/lumatrail
forbid tools/windows_host tools/lumatrail
if found=$(grep -rln "PF_\|host_contract" engine streams frame); then
    echo "host records named below the host layer:"
    echo "$found"
    status=1
fi
[ $status -eq 0 ] && echo "layering as intended"
exit $status
