#!/bin/sh
# The module must export exactly the host's two entry points.
set -eu
module="$1"
exports=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
expected=$(printf 'EffectMain\nPluginDataEntryFunction2\n')
if [ "$exports" != "$expected" ]; then
  echo "module $module exports:"
  echo "$exports"
  echo "expected exactly:"
  echo "$expected"
  exit 1
fi
echo "module exports exactly EffectMain and PluginDataEntryFunction2"
