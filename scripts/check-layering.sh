#!/usr/bin/env bash
# Source guards, run by scripts/test.sh before the build and registered as a CTest test. Fails,
# naming file and line, when
#   - a POSIX system header appears outside platform/, tests/ and bench/;
#   - an include of ours points against the layering (the table of allowed layers below; inside
#     engine/storage, the folder order written at the top of engine/storage/CMakeLists.txt);
#   - Qt is included anywhere but the .cpp files of the visual class library and one test-support
#     header (a name ending in TestSupport.h) under tests/: its headers in either spelling
#     (<QWidget>, <qwidget.h>), and our own headers that declare Qt types (qt_headers below);
#   - two units of engine/ (a header and its sources, part-files included) include each other;
#   - a .cpp or .h differs from .clang-format.
# Later guards belong in this script too, so that CI keeps one list of them.
set -euo pipefail
cd "$(dirname "$0")/.."

errors=()
fail() { errors+=("$1"); }

# --- The files: tracked ones, and new ones in the source folders that are not ignored (a build
# directory of another name holds generated sources that are none of ours).
top_folders="platform classlib engine components app tools bench tests"
sources=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r f; do
    [ -f "$f" ] && sources+=("$f")
  done < <({
    git ls-files --cached -- '*.cpp' '*.h'
    git ls-files --others --exclude-standard -- '*.cpp' '*.h' |
      while IFS= read -r f; do [[ " $top_folders " == *" ${f%%/*} "* ]] && echo "$f"; done
  } | sort -u)
else
  while IFS= read -r f; do
    sources+=("${f#./}")
  done < <(find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)
fi
if [ ${#sources[@]} -eq 0 ]; then
  echo "check-layering: no sources found" >&2
  exit 1
fi

# --- The layers. Each folder lists the layers its files may include (bash patterns); a file
# belongs to the longest folder that prefixes its path. A folder not listed here is an error, so
# a new folder gets its place in the layering when it is created.
declare -A allowed=(
  [platform]="platform"
  [classlib/rtl]="platform classlib/rtl"
  [classlib/db]="platform classlib/rtl classlib/db"
  [classlib/forms]="platform classlib/rtl classlib/forms"
  [classlib/dbforms]="platform classlib/rtl classlib/db classlib/forms classlib/dbforms"
  [classlib/report]="platform classlib/rtl classlib/db classlib/forms classlib/dbforms classlib/report"
  [engine/sql]="platform classlib/rtl engine/storage/* engine/sql"
  # Only the dataset components reach the class library's dataset model, and only their dialogs
  # the visual class library; the components call the dialogs through a seam, never by include.
  [engine/components]="platform classlib/rtl classlib/db engine/storage/* engine/sql engine/components"
  [engine/components/dialogs]="platform classlib/rtl classlib/db classlib/forms classlib/dbforms
    classlib/report engine/storage/* engine/sql engine/components engine/components/dialogs"
  # The component library stands on the class library alone, never on the engine.
  [components/data]="platform classlib/rtl classlib/db components/data"
  [components/ui]="platform classlib/* components/data components/ui"
  # The installer program the self-update starts runs without the program's libraries.
  [components/installer]="platform components/installer"
  [app]="platform classlib/* engine/* components/* app"
  [tools]="platform classlib/rtl engine/storage/* engine/sql tools"
  # Benchmarks time the code of any layer, the application core included.
  [bench]="platform classlib/* engine/* components/* app bench"
  [tests]="*"
)

# engine/storage: the rows of the table at the top of its CMakeLists.txt, top row first. A folder
# may include itself and the rows below its own, never a folder of its own row.
storage_rows=()
while IFS= read -r row; do
  folders=""
  for word in $row; do
    [ -d "engine/storage/$word" ] || break
    folders+="$word "
  done
  [ -n "$folders" ] && storage_rows+=("$folders")
done < <(sed -n 's/^#   \([a-z]\)/\1/p' engine/storage/CMakeLists.txt)
for dir in engine/storage/*/; do
  dir=${dir%/}
  found=0
  for row in "${storage_rows[@]}"; do
    [[ " $row" == *" ${dir##*/} "* ]] && found=1
  done
  [ $found -eq 1 ] || fail "$dir: not placed in the folder order at the top of engine/storage/CMakeLists.txt"
done
for ((i = 0; i < ${#storage_rows[@]}; i++)); do
  below=""
  for ((j = i + 1; j < ${#storage_rows[@]}; j++)); do
    for folder in ${storage_rows[j]}; do below+=" engine/storage/$folder"; done
  done
  for folder in ${storage_rows[i]}; do
    allowed[engine/storage/$folder]="platform classlib/rtl engine/storage/$folder$below"
  done
done

# Longest folder first, so that engine/components/dialogs wins over engine/components.
layers=()
while IFS= read -r layer; do layers+=("$layer"); done < <(
  for layer in "${!allowed[@]}"; do echo "${#layer} $layer"; done | sort -rn | cut -d' ' -f2)

# Both helpers answer in $REPLY (no subshell per include, so the whole check stays quick).
layer_of() {
  local layer
  REPLY=""
  for layer in "${layers[@]}"; do
    if [[ $1 == "$layer"/* ]]; then
      REPLY=$layer
      return
    fi
  done
}

# Folds "a/./b" and "a/x/../b" into "a/b".
normalize() {
  local part out=()
  local IFS=/
  for part in $1; do
    case $part in
      "" | .) ;;
      ..) [ ${#out[@]} -gt 0 ] && unset 'out[-1]' ;;
      *) out+=("$part") ;;
    esac
  done
  REPLY="${out[*]}"
}

# Qt's lowercase spelling of its headers (<qwidget.h>); no standard header has that shape.
qt_lowercase_header='^<q[a-z0-9_]*\.h>$'
# Our headers that declare Qt types: they go where Qt itself may go.
qt_headers=" classlib/forms/ControlImpl.h classlib/forms/GraphicsImpl.h classlib/forms/QtText.h "
# True when $1 may see Qt: a .cpp of the visual class library, or the one test-support header.
qt_allowed() {
  [[ $1 == classlib/forms/*.cpp || $1 == classlib/dbforms/*.cpp || $1 == classlib/report/*.cpp ||
    ($1 == tests/* && ${1##*/} == *TestSupport.h) ]]
}

# --- Every include line of every source: file, line, and the include with its brackets.
qt_support_files=()
declare -A unit_edges=()
# Longest names first, so that a part-file belongs to the longest header its name starts with.
mapfile -t engine_headers < <(printf '%s\n' "${sources[@]}" | grep '^engine/.*\.h$' |
  sed 's/\.h$//' | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2)
while IFS=$'\t' read -r file line include; do
  path=${include:1:${#include}-2}
  where="$file:$line"

  # POSIX system headers live behind platform/ (tests and benchmarks may use them to stage
  # processes and measure them).
  case $include in
    "<fcntl.h>" | "<unistd.h>" | "<sys/"* | "<dirent.h>" | "<pwd.h>" | "<grp.h>" | "<dlfcn.h>" | \
      "<pthread.h>" | "<poll.h>" | "<spawn.h>" | "<termios.h>" | "<semaphore.h>" | "<netdb.h>" | \
      "<arpa/"* | "<netinet/"*)
      [[ $file == platform/* || $file == tests/* || $file == bench/* ]] ||
        fail "$where: POSIX header $include outside platform/ (reach it through platform/)"
      ;;
  esac

  # Qt stays inside the visual class library's .cpp files and one test-support header.
  if [[ $include == "<Q"* || $include =~ $qt_lowercase_header ]]; then
    if [[ $file == tests/* && ${file##*/} == *TestSupport.h ]]; then
      qt_support_files+=("$file")
    elif ! qt_allowed "$file"; then
      fail "$where: Qt header $include outside the .cpp files of classlib/forms, dbforms, report"
    fi
  fi

  # Our own headers: resolve them as the compiler would (the including file's folder, the
  # folders above it up to the repository root), then check the layering.
  resolved=""
  if [[ ${include:0:1} == '"' ]]; then
    dir=$file
    while [ "$dir" != . ]; do
      if [[ $dir == */* ]]; then dir=${dir%/*}; else dir=.; fi
      normalize "$dir/$path"
      if [ -f "$REPLY" ]; then
        resolved=$REPLY
        break
      fi
    done
    # Tests reach their support headers through their targets' include folders too; outside tests
    # a header found nowhere could hide an include against the layering.
    [ -n "$resolved" ] || [[ $file == tests/* ]] ||
      fail "$where: $include is found in no folder of the repository"
  elif [[ " $top_folders " == *" ${path%%/*} "* && -f $path ]]; then
    normalize "$path"
    resolved=$REPLY
  fi
  [ -n "$resolved" ] || continue

  if [[ $qt_headers == *" $resolved "* ]] && ! qt_allowed "$file"; then
    fail "$where: $include declares Qt types; only the .cpp files of classlib/forms, dbforms, report and the test-support header may include it"
  fi

  # Engine units never include each other: a unit is a header with its source and part-files
  # (TDataFileRecords.cpp belongs to TDataFile), so its name is the header's.
  if [[ $file == engine/* && $resolved == engine/* ]]; then
    from_unit=${file%.*}
    for header in "${engine_headers[@]}"; do
      if [[ $from_unit == "$header"* ]]; then
        from_unit=$header
        break
      fi
    done
    to_unit=${resolved%.*}
    [ "$from_unit" == "$to_unit" ] || unit_edges["$from_unit|$to_unit"]=$where
  fi

  layer_of "$file"
  from=$REPLY
  layer_of "$resolved"
  to=$REPLY
  if [ -z "$from" ]; then
    fail "$where: ${file%/*}/ has no place in the layering of scripts/check-layering.sh"
    continue
  fi
  if [ -z "$to" ]; then
    fail "$where: $include is in ${resolved%/*}/, which has no place in the layering"
    continue
  fi
  ok=0
  set -f
  patterns=(${allowed[$from]})
  set +f
  for pattern in "${patterns[@]}"; do
    # shellcheck disable=SC2053  # the pattern is a glob on purpose
    if [[ $to == $pattern ]]; then
      ok=1
      break
    fi
  done
  [ $ok -eq 1 ] || fail "$where: $from/ may not include $to/ ($include points up or across the layers)"
done < <(
  awk 'match($0, /^[ \t]*#[ \t]*include[ \t]*[<"][^<>"]*[>"]/) {
         s = substr($0, RSTART, RLENGTH)
         sub(/^[ \t]*#[ \t]*include[ \t]*/, "", s)
         print FILENAME "\t" FNR "\t" s
       }' "${sources[@]}"
)
for edge in "${!unit_edges[@]}"; do
  a=${edge%|*}
  b=${edge#*|}
  [[ -n ${unit_edges["$b|$a"]+set} && $a < $b ]] &&
    fail "${unit_edges[$edge]}: $a and $b include each other (engine units form no include knots)"
done
if [ ${#qt_support_files[@]} -gt 0 ]; then
  mapfile -t distinct < <(printf '%s\n' "${qt_support_files[@]}" | sort -u)
  [ ${#distinct[@]} -le 1 ] ||
    fail "Qt is included by more than one test-support header: ${distinct[*]}"
fi

# --- Formatting.
if command -v clang-format >/dev/null 2>&1; then
  if ! format_report=$(clang-format --dry-run -Werror "${sources[@]}" 2>&1); then
    fail "$(printf '%s\n' "$format_report" | grep -- '-Wclang-format-violations' | sed 's/:[0-9]*:[0-9]*: error:.*//' |
      sort -u | sed 's/$/: differs from .clang-format (run clang-format -i on it)/')"
  fi
else
  fail "clang-format is not installed (scripts/setup.sh installs it)"
fi

if [ ${#errors[@]} -gt 0 ]; then
  printf '%s\n' "${errors[@]}" >&2
  echo "check-layering: ${#errors[@]} problem(s)" >&2
  exit 1
fi
echo "check-layering: ${#sources[@]} files: headers, layering, Qt and formatting all in order"
