#!/bin/sh
# check_pe_module.sh OBJDUMP MODULE: the module's PE file is what the host
# loads: a 64-bit x86 DLL whose export directory is named Lumatrail.aex and
# lists exactly EffectMain and PluginDataEntryFunction2, that imports only
# KERNEL32.dll and msvcrt.dll, that carries no link time stamp (rebuilds are
# byte-identical) and holds the property list resource.
set -eu
objdump="$1"
module="$2"
dump=$(TZ=UTC "$objdump" -p "$module")
problems=0
fail() { echo "$module: $*"; problems=$((problems + 1)); }

echo "$dump" | grep -q 'file format pei-x86-64' || fail "not a 64-bit x86 PE file"
echo "$dump" | grep -Eq '^Characteristics.*' || fail "no file header characteristics"
echo "$dump" | grep -q 'DLL$' || fail "not marked as a DLL"

name=$(echo "$dump" | sed -n 's/^Name[[:space:]]*[0-9a-fA-F]* //p')
[ "$name" = "Lumatrail.aex" ] || fail "export directory is named \"$name\", expected \"Lumatrail.aex\""

exports=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
expected_exports=$(printf 'EffectMain\nPluginDataEntryFunction2')
[ "$exports" = "$expected_exports" ] || fail "exports [$(echo $exports)], expected [$(echo $expected_exports)]"

imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort)
expected_imports=$(printf 'KERNEL32.dll\nmsvcrt.dll')
[ "$imports" = "$expected_imports" ] || fail "imports [$(echo $imports)], expected [$(echo $expected_imports)]"

stamp=$(echo "$dump" | sed -n 's/^Time\/Date[[:space:]]*//p' | head -n 1)
[ "$stamp" = "Thu Jan  1 00:00:00 1970" ] || fail "link time stamp is \"$stamp\", expected none (0)"

# The property list resource: type PIPL, id 16000 (0x3e80), language 1033 (0x409).
resources=$(echo "$dump" | sed -n '/^The .rsrc Resource Directory section/,$p')
echo "$resources" | grep -Eq '^[0-9a-f]+ +Entry: name: .*: PIPL,' || fail "no resource of type PIPL"
echo "$resources" | grep -Eq '^[0-9a-f]+ +Entry: ID: 0x003e80,' || fail "no resource with id 16000"
echo "$resources" | grep -Eq '^[0-9a-f]+ +Entry: ID: 0x000409,' || fail "no resource in language 1033"

if [ "$problems" -ne 0 ]; then exit 1; fi
echo "$module: PE file as expected (Lumatrail.aex; exports EffectMain, PluginDataEntryFunction2; imports KERNEL32.dll, msvcrt.dll)"
