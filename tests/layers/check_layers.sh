#!/usr/bin/env bash
# Each library under src/ may include only itself and the libraries listed for
# it, and the web client and the engines include no header of QtWidgets.
#   check_layers.sh SOURCE_DIR QTWIDGETS_INCLUDE_DIR [LIBRARY=FOLDER:FILES]...
# The libraries' files come from the build (CMakeLists.txt beside this). A
# header belongs to the library of the .cpp of its name; a file that no
# library names belongs to its folder's library (tavi_FOLDER). A library
# missing from the table fails too, so a new one must say where it sits.
set -u
src=${1:?source folder}/src
widgets=${2:?QtWidgets include folder}
shift 2
declare -A allowed=(
  [base]=""
  [media]=""
  [language]=""
  [sound]="base"
  [ui]="base"
  [net]="base"
  [netui]="base ui net"
  [video]="base media sound"
  [record]="base media sound"
  [recorder]="base ui record"
  [course]="base ui net"
  [classroom]="base ui net netui sound video record recorder course"
  [chatprotocol]=""
  [chat]="base ui net netui course chatprotocol"
  [app]="base ui net netui sound video record recorder course classroom chatprotocol chat"
)
# No widgets here: the web client, the engines and what they stand on.
widget_free=" base language media sound net video record chatprotocol "

declare -A library_of # FOLDER/STEM -> library
for arg in "$@"; do
  name=${arg%%=*} rest=${arg#*=}
  folder=${rest%%:*}
  for file in ${rest#*:}; do library_of[$folder/${file%.*}]=$name; done
done
library() {
  local stem=${1%.*}
  if [ -n "${library_of[$stem]+x}" ]; then echo "${library_of[$stem]}"; else echo "${1%%/*}"; fi
}
is_widget_header() {
  case $1 in QtWidgets | QtWidgets/*) return 0 ;; esac
  [ -f "$widgets/$1" ]
}

status=0
while IFS= read -r -d '' path; do
  file=${path#"$src"/}
  lib=$(library "$file")
  if [ -z "${allowed[$lib]+x}" ]; then
    echo "$file: library $lib is not in the layer table"; status=1; continue
  fi
  while IFS= read -r inc; do
    header=${inc:1:${#inc}-2}
    if [ "${inc:0:1}" = "<" ]; then
      if [[ $widget_free == *" $lib "* ]] && is_widget_header "$header"; then
        echo "$file includes <$header>: $lib has no widgets"; status=1
      fi
      continue
    fi
    [[ $header == */* ]] || header=$(dirname "$file")/$header
    [ -f "$src/$header" ] || continue
    target=$(library "$header")
    [ "$target" = "$lib" ] && continue
    case " ${allowed[$lib]} " in *" $target "*) ;; *)
      echo "$file includes $header of $target ($lib may use: ${allowed[$lib]:-nothing})"; status=1 ;;
    esac
  done < <(sed -nE 's/^\s*#\s*include\s*([<"][^>"]+[>"]).*/\1/p' "$path")
done < <(find "$src" \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
[ $status = 0 ] && echo "layers: every include points down; the web client and the engines include no widget header"
exit $status
