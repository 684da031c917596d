#!/usr/bin/env bash
# check_notices.sh PACKAGE BUILD_DIR COPY=ORIGIN... FILE...
# Every piece of others' code in the packaged FILEs has its notice in the
# package's THIRD-PARTY-NOTICES: the objects and archive members each FILE's
# link map (FILE.map) shows the linker took from outside the build, and the
# headers the build's own objects in that link included (from ninja's
# dependency log, or FILE.d for the drivers), each traced to its Debian
# package. Each COPY=ORIGIN: headers the build copied to BUILD_DIR/COPY came
# from ORIGIN. The notice must name each package with its installed version and
# hold its copyright file whole.
set -uo pipefail
package=$1 build=$(cd "$2" && pwd)
shift 2
copies=()
while [ $# -gt 0 ] && [[ $1 == *=* ]]; do
  copies+=("$1")
  shift
done
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ -f "$package" ] || { echo "FAIL: no $package: build it first" >&2; exit 1; }
export LC_ALL=C

case $package in
  *.zip) notices=$(unzip -p "$package" THIRD-PARTY-NOTICES.txt | tr -d '\r') ;;
  *.deb) notices=$(dpkg-deb --fsys-tarfile "$package" |
                     tar -xO ./usr/share/doc/vykuu/THIRD-PARTY-NOTICES.txt.gz | gunzip) ;;
esac
[ -n "$notices" ] || { echo "FAIL: $package holds no THIRD-PARTY-NOTICES" >&2; exit 1; }

outside=() objects=()
for file in "$@"; do
  map=$file.map
  [ -f "$map" ] || { fail "no link map $map"; continue; }
  # Archive members the linker took: "archive(member)" at a line's start.
  while IFS= read -r entry; do
    archive=${entry%%(*} member=${entry#*(}
    member=${member%)}
    if [[ $archive == /* ]]; then
      outside+=("$archive")
    else
      lib=$(basename "$archive" .a)
      while IFS= read -r o; do objects+=("$o"); done < <(
        find "$build/$(dirname "$archive")/CMakeFiles/${lib#lib}.dir" -name "$member" 2>/dev/null)
    fi
  done < <(awk '/^Archive member included/ { on = 1; next }
                /^(Discarded input sections|Allocating common symbols|Memory Configuration)/ { on = 0 }
                on && /^[^ ].*\(.*\)$/ { print }' "$map")
  # Objects named on the command line; a driver's come from /tmp and are gone.
  while IFS= read -r o; do
    case $o in
      *.a) ;;
      *.so | *.so.*) ;; # linked dynamically: the package's Depends names them
      "dll stuff") ;; # the linker's own import stubs
      /tmp/*) ;;
      /*) outside+=("$o") ;;
      *) objects+=("$build/$o") ;;
    esac
  done < <(awk '$1 == "LOAD" { sub(/^LOAD /, ""); print }' "$map")
  if [ -f "$file.d" ]; then
    while IFS= read -r h; do outside+=("$h"); done < <(sed -e 's/^[^:]*://' -e 's/\\$//' "$file.d" | tr ' ' '\n' | grep '^/')
  fi
done

# Headers of the build's own objects, from ninja's log.
if [ ${#objects[@]} -gt 0 ]; then
  relative=()
  for o in "${objects[@]}"; do relative+=("${o#"$build"/}"); done
  while IFS= read -r h; do outside+=("$h"); done < <(
    ninja -C "$build" -t deps "${relative[@]}" | awk '/^    \// { print $1 }')
fi

# Each outside file to its package; the build's and the sources' own are not.
source=$(cd "$(dirname "$0")/../.." && pwd)
origin_of() { # PATH -> where a copied header came from; nothing for others
  local c copy
  for c in "${copies[@]}"; do
    copy=${c%%=*}
    case $1 in "$build/$copy"/*) echo "${c#*=}/${1#"$build/$copy"/}" && return ;; esac
  done
}
paths=$(printf '%s\0' "${outside[@]}" | sort -zu | xargs -0 -r realpath -m -- | while IFS= read -r f; do
  copied=$(origin_of "$f")
  if [ -n "$copied" ]; then
    echo "$copied"
    continue
  fi
  case $f in
    "$build"/* | "$source"/*) ;;
    *) echo "$f" ;;
  esac
done | sort -u)
[ -n "$paths" ] || fail "no file from outside the build found: the link maps are empty"
owners() { # PATH... -> "package[, package]: path" of each path dpkg knows
  [ $# -eq 0 ] || dpkg -S "$@" 2>/dev/null | grep -v '^diversion '
}
mapfile -t wanted <<<"$paths"
known=$(owners "${wanted[@]}")
# A merged /usr: dpkg may know a file by its /lib name.
missing=()
found=$(sed 's/^[^/]*: //' <<<"$known")
for path in "${wanted[@]}"; do
  grep -qxF -- "$path" <<<"$found" || missing+=("${path#/usr}")
done
known+=$'\n'$(owners "${missing[@]}")
found=$(sed 's/^[^/]*: //' <<<"$known")
for path in "${missing[@]}"; do
  grep -qxF -- "$path" <<<"$found" || fail "no Debian package holds $path or /usr$path"
done
packages=$(sed -n 's/: \/.*//p' <<<"$known" | tr ',' '\n' | sed -e 's/^ *//' -e 's/:.*//' | sort -u)

named=$(sed -n "s/^  Debian packages: //p" <<<"$notices" | sed "s/, /\n/g")
for p in $packages; do
  version=$(dpkg-query -W -f='${Version}\n' "$p" | sort -u)
  grep -qxF -- "$p $version" <<<"$named" ||
    { fail "the notices name no Debian package $p $version"; continue; }
  [[ $notices == *"$(cat "/usr/share/doc/$p/copyright")"* ]] ||
    fail "the notices lack the copyright file of $p"
done

if [ "$failures" -gt 0 ]; then
  echo "check_notices: $failures failures" >&2
  exit 1
fi
echo "check_notices: $(basename "$package"): every component has its notice:" $packages
