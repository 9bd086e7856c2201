#!/usr/bin/env bash
# Checks the module's export and import tables: it exports exactly the four
# COM server entry points, and it imports nothing but Windows system DLLs (no
# MinGW runtime DLL that a host machine would lack).
#   check-module-tables.sh MODULE
set -uo pipefail
module=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

tables=$("$objdump" -p "$module") || { echo "cannot read $module" >&2; exit 1; }
status=0

expected_exports=$'DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer'
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
if [ "$exports" != "$expected_exports" ]; then
  echo "exports differ: expected" >&2
  echo "$expected_exports" >&2
  echo "found" >&2
  echo "${exports:-(none)}" >&2
  status=1
fi

imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$tables")
if [ -z "$imports" ]; then
  echo "no imports found" >&2
  status=1
fi
while read -r dll; do
  [ -n "$dll" ] || continue
  case ${dll,,} in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | ole32.dll | oleaut32.dll | msvcrt.dll | api-ms-win-crt-*.dll) ;;
    *) echo "imports a DLL that is not a Windows system DLL: $dll" >&2; status=1 ;;
  esac
done <<<"$imports"

[ $status -eq 0 ] && echo "exports: $(tr '\n' ' ' <<<"$exports")" && echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $status
