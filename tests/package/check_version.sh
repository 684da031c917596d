#!/usr/bin/env bash
# check_version.sh SOURCE_DIR
# The version text cmake/Version.cmake gives a checkout in each state a
# release meets: a clean tag, commits after it, uncommitted changes, no tag
# at all, no git, and a version or date given from outside.
set -uo pipefail
src=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
repo=$work/repo
mkdir -p "$repo"
cat >"$repo/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(T VERSION 1.3 LANGUAGES NONE)
include($src/cmake/Version.cmake)
file(WRITE \${CMAKE_BINARY_DIR}/version.txt "\${VYK_VERSION} \${VYK_VERSION_RC} \${VYK_SOURCE_DATE_EPOCH}")
CMAKE

version() { # CMAKE ARGS... -> "version rc epoch"
  rm -rf "$work/b"
  cmake -S "$repo" -B "$work/b" "$@" >/dev/null 2>&1 || { echo "configure failed"; return; }
  cat "$work/b/version.txt"
}
expect() { # WHAT EXPECTED GOT
  [ "$2" = "$3" ] || fail "$1: \"$3\", expected \"$2\""
}

expect "no git" "1.3 1,3,0,0 $(stat -c %Y "$repo/CMakeLists.txt")" "$(version)"
expect "given version and date" "2.0~rc1 1,3,0,0 1234567890" "$(SOURCE_DATE_EPOCH=1234567890 version -DVYK_VERSION=2.0~rc1)"

export GIT_AUTHOR_NAME=t GIT_AUTHOR_EMAIL=t@t GIT_COMMITTER_NAME=t GIT_COMMITTER_EMAIL=t@t
g() { git -C "$repo" "$@" >/dev/null 2>&1; }
g init -q
g add CMakeLists.txt
GIT_COMMITTER_DATE="@1700000000 +0000" g commit -q -m one
GIT_COMMITTER_DATE="@1700000100 +0000" g commit -q --allow-empty -m two
hash=$(git -C "$repo" rev-parse --short=12 HEAD)
expect "no tag" "1.3+2.g$hash 1,3,0,2 1700000100" "$(version)"

g tag v1.3
expect "clean tag" "1.3 1,3,0,0 1700000100" "$(version)"
echo "# changed" >>"$repo/CMakeLists.txt"
expect "tag, uncommitted change" "1.3+0.g$hash.dirty 1,3,0,0 1700000100" "$(version)"
g commit -q -a -m three --date=@1700000200
hash=$(git -C "$repo" rev-parse --short=12 HEAD)
epoch=$(git -C "$repo" log -1 --format=%ct)
expect "one commit after the tag" "1.3+1.g$hash 1,3,0,1 $epoch" "$(version)"
g tag v1.2 HEAD~1
expect "another version's tag" "1.3+1.g$hash 1,3,0,1 $epoch" "$(version)"

# A commit made after the configure reaches the version at the next build.
version >/dev/null
g commit -q --allow-empty -m four
cmake --build "$work/b" >/dev/null 2>&1
hash=$(git -C "$repo" rev-parse --short=12 HEAD)
expect "commit after configure" "1.3+2.g$hash" "$(cut -d' ' -f1 "$work/b/version.txt")"

if [ "$failures" -gt 0 ]; then
  echo "check_version: $failures failures" >&2
  exit 1
fi
echo "check_version: passed"
