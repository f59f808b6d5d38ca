#!/usr/bin/env bash
# Each folder under src/ may include only itself and the folders listed for it.
# A folder missing from the table fails too, so a new library must say where it sits.
set -u
src=${1:?source folder}/src
declare -A allowed=(
  [base]=""
  [ui]="base"
  [net]="base ui"
  [video]="base"
  [record]="base"
  [classroom]="base ui net video record course"
  [course]="base ui net"
  [chat]="base ui net course"
  [app]="base ui net video record course classroom chat"
)
status=0
for dir in "$src"/*/; do
  name=$(basename "$dir")
  if [ -z "${allowed[$name]+x}" ]; then
    echo "src/$name is not in the layer table"; status=1; continue
  fi
  while IFS= read -r line; do
    file=${line%%:*}
    inc=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"${line#*:}")
    [ "$inc" = "$name" ] && continue
    case " ${allowed[$name]} " in *" $inc "*) ;; *)
      echo "${file#"$src"/} includes $inc/ (src/$name may use: ${allowed[$name]:-nothing})"; status=1 ;;
    esac
  done < <(grep -rHE '^\s*#\s*include "[a-z_]+/' "$dir" --include='*.h' --include='*.cpp')
done
[ $status = 0 ] && echo "layers: every include points down"
exit $status
