#!/usr/bin/env bash
# Fails when an include runs back up between the tree's folders, or when a
# subsystem library's declared dependencies differ from what its files
# include. Usage: check_layers.sh [source tree] (the tree above scripts/ by
# default). Needs bash 4, grep and sed only, so CI runs it before building.
#
# Includes are resolved as the build resolves them: a header is found by its
# name alone, so a name held by two folders of the libraries is refused too.
# A subfolder's files count as their top folder's (app/windows/ is app).
set -uo pipefail
ROOT=${1:-"$(dirname "$0")/.."}
cd "$ROOT" || exit 2

# What each top folder may include besides itself. tools/ (the host
# program), plugin/ (the plug-in's assembly), tests/ and bench/ may include
# anything; a folder with sources that is not listed here is an error, so a
# new layer gets its rule when it arrives.
declare -A MAY=(
  [platform]=""
  [foundation]="platform"
  [imaging]="platform foundation"
  [engine]="platform foundation imaging"
  [ui]="platform foundation imaging"
  [surface3d]="platform foundation imaging"
  [host]="platform foundation imaging engine ui surface3d"
  [app]="platform foundation imaging engine ui surface3d host"
  [cutter]="platform foundation imaging engine ui surface3d host app"
  [effects]="platform foundation imaging engine ui surface3d host app cutter"
  [tools]="*" [plugin]="*" [tests]="*" [bench]="*"
)

# The tree's files matching the find test given, build folders, hidden
# folders, tests/ and bench/ left out (they may include anything).
tree_files() {
  find . \( -path './build*' -o -path './.*' -o -path ./tests -o -path ./bench \) -prune -o \
       -type f \( "$@" \) -print | sort
}

errors=0
fail() { echo "$*"; errors=$((errors + 1)); }

# Folders built as libraries of their own: name, folder, declared lists.
declare -A LIB_DIR LIB_DEPS LIB_PRIVATE LIB_EXCLUDE
read_subsystems() {
  local cml dir call name
  while IFS= read -r cml; do
    dir=$(dirname "$cml"); dir=${dir#./}
    while IFS= read -r call; do
      name=$(awk '{print $1}' <<<"$call")
      LIB_DIR[$name]=$dir
      LIB_DEPS[$name]=$(list_arg DEPS "$call")
      LIB_PRIVATE[$name]=$(list_arg PRIVATE_DEPS "$call")
      LIB_EXCLUDE[$name]=$(list_arg EXCLUDE "$call")
    done < <(sed 's/#.*//' "$cml" | tr '\n' ' ' |
             grep -o 'klf_subsystem([^)]*)' | sed 's/^klf_subsystem(//; s/)$//')
  done < <(tree_files -name CMakeLists.txt)
}

# The words after <keyword> in a klf_subsystem call, up to the next keyword.
list_arg() {
  awk -v key="$1" '{
    on = 0; out = ""
    for (i = 2; i <= NF; i++) {
      if ($i ~ /^(DEPS|PRIVATE_DEPS|LIBS|EXCLUDE)$/) { on = ($i == key); continue }
      if (on) out = out " " $i
    }
    print out
  }' <<<"$2" | xargs -n1 2>/dev/null | sort -u | xargs
}

# The library a file belongs to, if any, as klf_subsystem gathers them: the
# deepest subsystem folder above it, unless the file lies in one of its
# EXCLUDE subfolders or in a subfolder with a CMakeLists.txt of its own.
declare -A OWNER  # by folder
owner_of() {
  local f=$1 best="" name dir ex sub
  for name in "${!LIB_DIR[@]}"; do
    dir=${LIB_DIR[$name]}
    [[ $f == "$dir"/* ]] || continue
    if [ -n "$best" ] && [ ${#dir} -le ${#LIB_DIR[$best]} ]; then continue; fi
    best=$name
  done
  [ -n "$best" ] || return 0
  dir=${LIB_DIR[$best]}
  for ex in ${LIB_EXCLUDE[$best]}; do
    [[ $f == "$dir/$ex"/* ]] && return 0
  done
  sub=$(dirname "$f")
  while [ "$sub" != "$dir" ]; do
    [ -f "$sub/CMakeLists.txt" ] && return 0
    sub=$(dirname "$sub")
  done
  echo "$best"
}

# Every header of the tree outside tests/ and bench/, by name.
declare -A HDR_PATH
index_headers() {
  local h name
  while IFS= read -r h; do
    h=${h#./}
    name=${h##*/}
    if [ -n "${HDR_PATH[$name]+x}" ]; then
      fail "$h: header name also used by ${HDR_PATH[$name]:-another folder} (an include of it is ambiguous)"
      HDR_PATH[$name]=""  # its includes are not followed: either reading would mislead
      continue
    fi
    HDR_PATH[$name]=$h
  done < <(tree_files -name '*.h')
}

# One line per include of the tree's sources: file, line, included name.
list_includes() {
  tree_files \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sed 's|^\./||' |
    xargs -r grep -Hn -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][^">]+[">]' |
    sed -E 's/^([^:]+):([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">].*/\1 \2 \3/'
}

allowed() {  # allowed <from top folder> <to top folder>
  local may=${MAY[$1]-"?"} t
  [ "$1" = "$2" ] && return 0
  [ "$may" = "*" ] && return 0
  for t in $may; do [ "$t" = "$2" ] && return 0; done
  return 1
}

# Per library, the libraries its headers and its sources include.
declare -A USED_BY_HEADERS USED_BY_SOURCES
check_includes() {
  local file line name path from to lib dep
  declare -A unruled=()
  while read -r file line name; do
    path=${HDR_PATH[${name##*/}]:-}
    [ -n "$path" ] || continue          # a system or third-party header
    from=${file%%/*}; to=${path%%/*}
    if [ -z "${MAY[$from]+x}" ]; then
      unruled[$from]=1
    elif ! allowed "$from" "$to"; then
      fail "$file:$line: includes $path: $from never includes $to"
    fi
    lib=${OWNER[${file%/*}]-$(owner_of "$file")}; OWNER[${file%/*}]=$lib
    dep=${OWNER[${path%/*}]-$(owner_of "$path")}; OWNER[${path%/*}]=$dep
    [ -n "$lib" ] && [ -n "$dep" ] && [ "$lib" != "$dep" ] || continue
    if [[ $file == *.h ]]; then
      USED_BY_HEADERS[$lib]+=" $dep"
    else
      USED_BY_SOURCES[$lib]+=" $dep"
    fi
  done < <(list_includes)
  for from in "${!unruled[@]}"; do
    fail "$from/: a folder with no layer rule in scripts/check_layers.sh"
  done
}

words() { xargs -n1 <<<"$1" 2>/dev/null | sort -u | xargs; }

# DEPS must be what the headers include, PRIVATE_DEPS what only the sources
# add; a dependency nobody includes hides a layer the build never needs.
check_declared() {
  local name want_pub want_priv d
  for name in $(printf '%s\n' "${!LIB_DIR[@]}" | sort); do
    want_pub=$(words "${USED_BY_HEADERS[$name]:-}")
    want_priv=""
    for d in $(words "${USED_BY_SOURCES[$name]:-}"); do
      [[ " $want_pub " == *" $d "* ]] || want_priv+=" $d"
    done
    want_priv=$(words "$want_priv")
    if [ "${LIB_DEPS[$name]}" != "$want_pub" ] || [ "${LIB_PRIVATE[$name]}" != "$want_priv" ]; then
      fail "${LIB_DIR[$name]}/CMakeLists.txt: $name declares DEPS [${LIB_DEPS[$name]}]" \
           "PRIVATE_DEPS [${LIB_PRIVATE[$name]}]; its files include DEPS [$want_pub]" \
           "PRIVATE_DEPS [$want_priv]"
    fi
  done
}

read_subsystems
index_headers
check_includes
check_declared
if [ "$errors" -ne 0 ]; then
  echo "layer check: $errors fault(s)"
  exit 1
fi
echo "layer check: ${#LIB_DIR[@]} libraries, no include runs back up"
