#!/usr/bin/env bash
# The installer packages (tools/release), as an administrator uses them, in
# a fresh 64-bit Wine prefix of the test's own:
#   - the registry an install writes, compared with regsvr32's for the same
#     module, key by key and value by value, but for the module's path; the
#     32-bit view holds the same but for its path and platform;
#   - both modules in their folders, the guides as web pages;
#   - a 64-bit host creates the component by its ProgID from the installed
#     module, which starts from the port and speed the package preset, and
#     the simulated terminal answers Ping;
#   - an upgrade from an older package (one entry under installed programs,
#     the presets kept), the same package again (a repair), an older package
#     over a newer one (refused), a preset out of range (refused);
#   - removal: every file and key of the package goes, a ProgID another
#     component has taken since stays, and the registry is otherwise as
#     before the first install;
#   - the 32-bit package, which cannot run here, from its tables.
#   installer_tests.sh BUILD WORKDIR
set -uo pipefail
build=$(realpath "$1") work=$(realpath -m "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/expect.sh"

fail() {
  echo "FAIL  $1"
  [ -z "${2:-}" ] || sed 's/^/        /' <<<"$2"
  failures=$((failures + 1))
}
pass() { echo "ok    $1"; }
# check LABEL CONDITION-COMMAND...
check() {
  local label=$1
  shift
  if "$@"; then pass "$label"; else fail "$label"; fi
}
same() {  # LABEL WANTED ACTUAL
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "$(diff <(echo "$2") <(echo "$3"))"; fi
}

class='{FD9A10C9-8828-4e0c-9B64-38F0900916FF}'
library='{4F0D4571-0E7B-11D1-A486-004095E1DAEA}'
other_class='{0BADC0DE-0000-4000-8000-00000000F00D}'
# The keys that registering the module writes, under HKCR.
module_keys=("AddIn.AddInObject" "AddIn.AddInObject.1" "CLSID\\$class" "TypeLib\\$library")

if [ "${3:-}" != inside ]; then
  rm -rf "$work"
  mkdir -p "$work"
  version=$(QUILL_BUILD=$build "$root/tools/release" "$work/current/Quillomat" | sed -n 's/^release: .*Quillomat-\([0-9.]*\)\.msi (x64.*/\1/p')
  [ -n "$version" ] || { echo "FAIL  tools/release made no package"; exit 1; }
  echo "ok    tools/release made Quillomat-$version.msi"
  for made in older:1.0.0.0 newer:99.0.0.0; do
    QUILL_BUILD=$build "$root/tools/release" --version "${made#*:}" "$work/${made%%:*}/Quillomat" >/dev/null ||
      { echo "FAIL  tools/release --version ${made#*:}"; exit 1; }
  done

  # The 32-bit package, read from its tables: for 32-bit Windows, only the
  # 32-bit files, registered as the 64-bit package registers them in the
  # 32-bit view.
  x86=$work/current/Quillomat-$version-x86.msi x64=$work/current/Quillomat-$version.msi
  same "the 32-bit package is for Intel processors" "Template: Intel;1033" \
    "$(msiinfo suminfo "$x86" | grep '^Template:')"
  same "the 64-bit package is for x64 processors" "Template: x64;1033" "$(msiinfo suminfo "$x64" | grep '^Template:')"
  same "the 32-bit package installs the 32-bit module, its console and the guides" \
    "$(printf '%s\n' INSTALL.html Quillomat.dll SCRIPTING.html quill-console.exe)" \
    "$(msiinfo export "$x86" File | tail -n +4 | cut -f3 | sort)"
  components=$(msiinfo export "$x86" Component | tail -n +4)
  check "no component of the 32-bit package is a 64-bit one" \
    awk -F'\t' '{ if (int($4 / 256) % 2) exit 1 }' <<<"$components"
  # Its registry rows, but for their keys' identifiers, are those of the
  # 64-bit package's 32-bit components.
  rows() { msiinfo export "$1" Registry | tr -d '\r' | tail -n +4 | awk -F'\t' -v c="$2" '$6 ~ c { print $2 "\t" $3 "\t" $4 "\t" $5 "\t" $6 }' | sort; }
  same "the 32-bit package writes the registry as the 64-bit one's 32-bit part" \
    "$(rows "$x64" '32$')" "$(rows "$x86" '32$')"
  typelib_path() { awk -F'\t' -v p="$2" 'index($2, "\\0\\" p) && $2 ~ /\\0\\win(32|64)$/ { print $4 }' <<<"$1"; }
  same "the 32-bit module's type library registers for win32" "[#Quillomat.dll]" "$(typelib_path "$(rows "$x86" '32$')" win32)"
  same "the 64-bit module's type library registers for win64" "[#Quillomat64.dll]" \
    "$(typelib_path "$(rows "$x64" '64$')" win64)"
  same "the 32-bit package refuses 64-bit Windows" 1 \
    "$(msiinfo export "$x86" LaunchCondition | grep -c 'NOT VersionNT64')"

  QUILL_WINE_ARCH=win64 "$root/tools/with-wine" "$work/prefix" bash "${BASH_SOURCE[0]}" "$build" "$work" inside
  inside=$?
  exit $((failures > 0 || inside != 0))
fi

# ---- Inside the test's own Wine session.
version=$(ls "$work/current" | sed -n 's/^Quillomat-\([0-9.]*\)\.msi$/\1/p')
current=$work/current/Quillomat-$version.msi older=$work/older/Quillomat-1.0.0.0.msi newer=$work/newer/Quillomat-99.0.0.0.msi
drive_c=$WINEPREFIX/drive_c
folder64='C:\Program Files\Quillomat' folder32='C:\Program Files (x86)\Quillomat'
unix64="$drive_c/Program Files/Quillomat" unix32="$drive_c/Program Files (x86)/Quillomat"
regsvr32_copy=$work/regsvr32

run() { env $(quill_wine_env) wine "$@" </dev/null 2>/dev/null; }
source "$root/tools/wine-settings"
msiexec() { run msiexec "$@" >/dev/null; }

# One view's keys and values below the module's keys, the modules' paths
# written as MODULE, their folders as FOLDER and the type library's
# platform as PLATFORM. The type library's key is one for both views (as on
# Windows 7 and later): the other platform's entry is left out.
registry_of() {  # VIEW
  local view=$1 other=win32 key
  [ "$view" = 32 ] && other=win64
  for key in "${module_keys[@]}"; do
    run reg query "HKCR\\$key" /s "/reg:$view" | tr -d '\r'
  done | other="\\$other" paths="$regsvr32_path|$folder64\\Quillomat64.dll|$folder32\\Quillomat.dll" awk '
    BEGIN { RS = ""; other = ENVIRON["other"]; n = split(ENVIRON["paths"], path, "|") }
    { split($0, lines, "\n"); key = lines[1]
      if (substr(key, length(key) - length(other) + 1) == other) next
      for (p = 1; p <= n; p++) {
        folder = path[p]; sub(/[^\\]*$/, "", folder)
        while ((i = index($0, path[p])) > 0) $0 = substr($0, 1, i - 1) "MODULE" substr($0, i + length(path[p]))
        while ((i = index($0, folder)) > 0) $0 = substr($0, 1, i - 1) "FOLDER" substr($0, i + length(folder))
      }
      gsub(/\\win(32|64)\n/, "\\PLATFORM\n"); sub(/\\win(32|64)$/, "\\PLATFORM")
      print }'
}

# Everything under HKLM and HKCU but Windows Installer's own records and
# what Wine changes by itself, one line per key or value.
whole_registry() {
  local hive
  for hive in HKLM HKCU; do
    run reg export "$hive" "$work/hive.reg" /y >/dev/null
    iconv -f UTF-16LE -t UTF-8 "$work/hive.reg" | tr -d '\r'
  done | awk '/^\[/ { key = $0; next } NF { print key " " $0 }' |
    grep -a -v -i -e 'Installer' -e '"\(LastUsedSource\|InstallDate\)"=' -e 'Windows\\CurrentVersion\\Uninstall' \
      -e 'Software\\Wine' -e 'DynData' -e 'Explorer' -e 'CurrentVersion\\Run' -e 'SystemTime' -e 'Control\\Video' |
    sort
}

installed_entries() {
  run reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:64 | tr -d '\r' |
    grep -A20 -i 'Quillomat' | sed -n 's/^ *DisplayVersion *REG_SZ *//p'
}

expect_status() {  # LABEL STATUS COMMAND...
  local label=$1 status=$2 actual
  shift 2
  "$@"
  actual=$?
  if [ "$status" = nonzero ] && [ "$actual" != 0 ]; then pass "$label"; return; fi
  if [ "$actual" = "$status" ]; then pass "$label"; return; fi
  fail "$label (status $actual)"
}

before=$(whole_registry)

# regsvr32 of the same module, from a folder of the test's own, as the
# manual way does it; then unregistered, and the type library it leaves
# removed, so that the package starts from nothing.
mkdir -p "$regsvr32_copy"
cp "$work/current/Quillomat/Quillomat64.dll" "$regsvr32_copy/"
regsvr32_path=$(run winepath -w "$regsvr32_copy/Quillomat64.dll" | tr -d '\r')
expect_status "regsvr32 registers the 64-bit module" 0 run regsvr32 /s "$regsvr32_path"
by_regsvr32=$(registry_of 64)
run regsvr32 /s /u "$regsvr32_path"
run reg delete "HKCR\\TypeLib\\$library" /f /reg:64 >/dev/null
same "regsvr32 /u and the type library's removal leave the registry as it was" "$before" "$(whole_registry)"

# ---- An older package, with presets; the current one over it.
expect_status "a preset out of its range is refused" nonzero msiexec /i "$older" PORT=0 /qn
check "the refused package installed nothing" test ! -e "$unix64"
expect_status "msiexec /i of the older package with PORT, SPEED and IRDA" 0 msiexec /i "$older" PORT=3 SPEED=57600 IRDA=0 /qn
expect_status "msiexec /i of the current package over it, without presets" 0 msiexec /i "$current" /qn
same "one entry under installed programs, of the current version" "$version" "$(installed_entries)"
for view in 32 64; do
  same "the presets stay through the upgrade ($view-bit view)" "IrDA=0 Port=3 Speed=57600" \
    "$(run reg query 'HKLM\SOFTWARE\Quillomat' "/reg:$view" | tr -d '\r' |
       awk '$2 == "REG_SZ" { printf "%s%s=%s", sep, $1, $3; sep = " " }')"
done

# ---- What is installed, and where.
for file in Quillomat64.dll quill-console64.exe INSTALL.html SCRIPTING.html; do
  check "$file is in the 64-bit Program Files folder" test -s "$unix64/$file"
done
for file in Quillomat.dll quill-console.exe; do
  check "$file is in the 32-bit Program Files folder" test -s "$unix32/$file"
done
check "the 64-bit folder holds nothing of the 32-bit kind" test ! -e "$unix64/Quillomat.dll"
check "the guide opens as a web page" grep -q '<meta charset="utf-8">' "$unix64/INSTALL.html"
check "the guide's links lead to the other guide's page" grep -q 'href="SCRIPTING.html"' "$unix64/INSTALL.html"
by_package=$(registry_of 64)
same "the package's 64-bit view is regsvr32's, key by key and value by value" "$by_regsvr32" "$by_package"
same "the package's 32-bit view holds the same for the 32-bit module" "$by_regsvr32" \
  "$(registry_of 32)"

# ---- A 64-bit host creates it by its ProgID and reaches the terminal on
# the preset port at the preset speed.
export QUILL_NATIVE=$build/native
source "$root/tools/terminal-ports"
terminal_work=$work/terminal
mkdir -p "$terminal_work"
start_terminal "$WINEPREFIX" 3 "$here/installer-terminal.scn" "$terminal_work" || fail "no simulated terminal on COM3"
cd "$work" || exit 1
expect_output "the installed 64-bit console pings through the ProgID with the presets" 0 \
  'Settings: COM3, 57600 baud, cable' \
  wine_with_terminals --prefix "$WINEPREFIX" "$unix64/quill-console64.exe" --forget-settings call Attach call Ping
grep -qF "Component AddIn.AddInObject, registered from $folder64\\Quillomat64.dll" <<<"$output" ||
  fail "the console did not create the component from the installed module" "$output"
grep -q 'Ping / .* -> 1' <<<"$output" || fail "the terminal did not answer Ping" "$output"
stop_terminals
kept_settings=$(ls "$drive_c"/users/*/AppData/Roaming/Quillomat/quill-console.ini 2>/dev/null | head -n 1)
check "the host console kept its settings in its own file" test -n "$kept_settings"

# ---- The same package again repairs; an older one is refused.
rm -f "$unix64/Quillomat64.dll"
run reg delete "HKCR\\CLSID\\$class\\InprocServer32" /f /reg:64 >/dev/null
expect_status "msiexec /i of the same package again" 0 msiexec /i "$current" /qn
check "the same package again puts back a deleted module" test -s "$unix64/Quillomat64.dll"
same "the same package again puts back the registry" "$by_regsvr32" "$(registry_of 64)"
same "still one entry under installed programs" "$version" "$(installed_entries)"
expect_status "the older package over the current one is refused" nonzero msiexec /i "$older" /qn
same "the current version stays installed" "$version" "$(installed_entries)"

# ---- Another component takes the ProgIDs in the 64-bit view; removal
# leaves them to it and removes everything else of the package.
for progid in AddIn.AddInObject AddIn.AddInObject.1; do
  for view in 32 64; do
    run reg add "HKCR\\$progid\\CLSID" /ve /d "$other_class" /f "/reg:$view" >/dev/null
  done
done
expect_status "msiexec /x removes the package" 0 msiexec /x "$current" /qn
same "nothing is left under installed programs" "" "$(installed_entries)"
check "no file is left in the 64-bit folder" test ! -e "$unix64"
check "no file is left in the 32-bit folder" test ! -e "$unix32"
for progid in AddIn.AddInObject AddIn.AddInObject.1; do
  for view in 32 64; do
    same "$progid, taken by another component, still leads to it ($view-bit view)" "$other_class" \
      "$(run reg query "HKCR\\$progid\\CLSID" /ve "/reg:$view" | tr -d '\r' | awk '/REG_SZ/ { print $NF }')"
  done
  run reg delete "HKLM\\SOFTWARE\\Classes\\$progid" /f >/dev/null
  run reg delete "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\$progid" /f >/dev/null
done
check "the host console's own settings are not the package's" test -s "$kept_settings"
same "removal leaves the registry as it was before the first install" "$before" "$(whole_registry)"

# ---- A newer package installed, then removed: the ProgIDs it still owns go.
expect_status "msiexec /i of a newer package" 0 msiexec /i "$newer" /qn
expect_status "the current package over the newer one is refused" nonzero msiexec /i "$current" /qn
same "the newer version stays installed" "99.0.0.0" "$(installed_entries)"
expect_status "msiexec /x of the newer package" 0 msiexec /x "$newer" /qn
same "its removal too leaves the registry as it was" "$before" "$(whole_registry)"

exit $((failures > 0))
