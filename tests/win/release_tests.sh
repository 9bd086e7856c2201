#!/usr/bin/env bash
# The release folder (tools/release): assembled from the win32 and win64
# builds under BUILD, it holds both modules, both consoles and the guides,
# each of its kind; the check names a file that is missing or of the wrong
# kind.
#   release_tests.sh BUILD WORKDIR
set -uo pipefail
build=$1 work=$2
release=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/release
source "$(dirname "${BASH_SOURCE[0]}")/expect.sh"
rm -rf "$work"
mkdir -p "$work"

expect() {  # STATUS TEXT COMMAND...
  local status=$1 text=$2
  shift 2
  expect_output "${*//$release/tools/release}" "$status" "$text" "$@"
}

folder=$work/Quillomat
expect 0 "release: $folder is complete:" env QUILL_BUILD="$build" "$release" "$folder"
for name in Quillomat.dll Quillomat64.dll quill-console.exe quill-console64.exe INSTALL.md SCRIPTING.md; do
  [ -s "$folder/$name" ] || { echo "FAIL  the release has no $name"; failures=$((failures + 1)); }
done

# A guide missing, a console of the other word size, a stray file.
cp -r "$folder" "$work/broken"
rm "$work/broken/INSTALL.md"
cp "$folder/quill-console64.exe" "$work/broken/quill-console.exe"
touch "$work/broken/notes.txt"
expect 1 "release: $work/broken has no INSTALL.md" "$release" --check "$work/broken"
expect 1 "release: $work/broken/quill-console.exe is win64, not win32" "$release" --check "$work/broken"
expect 1 "release: $work/broken holds notes.txt, which is not part of a release" "$release" --check "$work/broken"

exit $((failures > 0))
