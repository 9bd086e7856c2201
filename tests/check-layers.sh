#!/usr/bin/env bash
# Checks that the product's folders include one another in one direction:
#   core -> core/win -> link -> ui -> component -> server, host/ beside
#   core/win, resources/ last.
# A file may include its own folder and folders before it, never one after it
# or one of the same rank. Prints every include that breaks the order.
#   check-layers.sh [ROOT]
set -uo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root" || exit 2

# Folder and rank; the longest folder name that prefixes a path wins.
layers=(core:0 core/win:1 host:1 link:2 ui:3 component:4 server:5 resources:6)

layer_of() {
  local path=$1 best= entry name
  for entry in "${layers[@]}"; do
    name=${entry%:*}
    case $path in
      "$name"/*) [ ${#name} -gt ${#best} ] && best=$name ;;
    esac
  done
  echo "$best"
}

rank_of() {
  local entry
  for entry in "${layers[@]}"; do
    [ "${entry%:*}" = "$1" ] && { echo "${entry#*:}"; return; }
  done
}

broken=0
while IFS= read -r file; do
  from=$(layer_of "$file")
  [ -n "$from" ] || continue
  while IFS=: read -r line target; do
    to=$(layer_of "$target")
    [ -n "$to" ] || continue          # a system header or a file of the same folder
    [ "$to" = "$from" ] && continue
    if [ "$(rank_of "$to")" -ge "$(rank_of "$from")" ]; then
      echo "$file:$line: $from/ includes $target ($to/ does not come before $from/)"
      broken=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed 's/^\([0-9]*\):.*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1:\2/')
done < <(git ls-files -co --exclude-standard -- core host link ui component server resources 2>/dev/null ||
         find core host link ui component server resources -type f)

[ $broken -eq 0 ] && echo "layers: every include follows core -> core/win -> link -> ui -> component -> server"
exit $broken
