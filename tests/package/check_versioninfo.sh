#!/usr/bin/env bash
# check_versioninfo.sh VERSION RC_NUMBERS FILE...
# Every Windows file carries one VERSIONINFO naming itself and the project's
# version, in its text and in its four numbers, and no link time.
set -uo pipefail
export TZ=UTC
version=$1 numbers=$2
shift 2
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The value that follows a key in the VERSIONINFO's UTF-16 strings (of any
# length: a version such as "1.3" is shorter than strings' default of four).
value() { strings -n 1 -e l "$1" | awk -v k="$2" 'found { print; exit } $0 == k { found = 1 }'; }

IFS=, read -r major minor patch build <<<"$numbers"
for file in "$@"; do
  name=$(basename "$file")
  # The file's own resources, not those of the files it carries inside.
  count=$(wrestool -l --type=16 "$file" | wc -l)
  [ "$count" = 1 ] || fail "$name: $count VERSIONINFO resources"
  info=$work/$name.version
  wrestool -x --raw --type=16 "$file" >"$info"
  for key in FileVersion ProductVersion; do
    [ "$(value "$info" $key)" = "$version" ] || fail "$name: $key \"$(value "$info" $key)\", expected \"$version\""
  done
  [ "$(value "$info" OriginalFilename)" = "$name" ] || fail "$name: OriginalFilename \"$(value "$info" OriginalFilename)\""
  [ "$(value "$info" ProductName)" = VYK_UU ] || fail "$name: ProductName \"$(value "$info" ProductName)\""

  # VS_FIXEDFILEINFO: signature 0xFEEF04BD, structure version, then the file
  # version as MS (major, minor) and LS (patch, build) double words.
  fixed=$(od -An -v -tx1 "$info" | tr -d ' \n' | grep -o 'bd04effe00000100.\{32\}' | head -n 1)
  if [ -z "$fixed" ]; then
    fail "$name: no fixed file information"
  else
    word() { echo $((16#${fixed:$1+2:2}${fixed:$1:2})); }
    got="$(word 20),$(word 16),$(word 28),$(word 24) $(word 36),$(word 32),$(word 44),$(word 40)"
    [ "$got" = "$numbers $numbers" ] || fail "$name: FILEVERSION and PRODUCTVERSION $got, expected $numbers"
  fi

  stamp=$(x86_64-w64-mingw32-objdump -p "$file" | awk '/^Time\/Date/ { $1 = ""; print; exit }')
  [ "$(date -u -d "$stamp" +%s 2>/dev/null)" = 0 ] || fail "$name: link time$stamp"
done

if [ "$failures" -gt 0 ]; then
  echo "check_versioninfo: $failures failures" >&2
  exit 1
fi
echo "check_versioninfo: $# files carry version $version ($numbers) and no link time"
