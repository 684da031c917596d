#!/usr/bin/env bash
# make-man.sh TOOL OUT.1.gz VERSION EPOCH NAME INCLUDE [SUBCOMMAND...]
# A tool's manual page from its own --help, with each SUBCOMMAND's --help in a
# COMMANDS section and the hand-written sections of INCLUDE. The tool runs by
# its bare name so that its usage lines name it as a user types it; the page
# is dated EPOCH and compressed without a name or time, so it is the same in
# every build.
set -euo pipefail
tool=$1 out=$2 version=$3 epoch=$4 name=$5 include=$6
shift 6
bin=$(basename "$tool")
work=$(mktemp -d "$out.XXXXXX")
trap 'rm -rf "$work"' EXIT
ln -s "$(cd "$(dirname "$tool")" && pwd)/$bin" "$work/$bin"
export PATH="$work:$PATH" LC_ALL=C.UTF-8 TZ=UTC SOURCE_DATE_EPOCH=$epoch

cp "$include" "$work/include.h2m"
if [ $# -gt 0 ]; then
  "$bin" --help >"$work/top" 2>&1 || true
  {
    echo "[COMMANDS]"
    for sub in "$@"; do
      "$bin" "$sub" --help >"$work/sub" 2>&1 || true
      # The command's own help without the closing text it shares with the
      # tool's help, which the page shows once.
      mapfile -t top <"$work/top"
      mapfile -t lines <"$work/sub"
      keep=${#lines[@]}
      t=${#top[@]}
      while [ "$keep" -gt 0 ] && [ "$t" -gt 0 ] && [ "${lines[keep - 1]}" = "${top[t - 1]}" ]; do
        keep=$((keep - 1)) t=$((t - 1))
      done
      echo ".SS \"$bin $sub\""
      echo ".nf"
      printf '%s\n' "${lines[@]:0:keep}" |
        sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\./\\\&./" -e "s/^'/\\\&'/"
      echo ".fi"
    done
  } >>"$work/include.h2m"
fi

help2man --no-info --no-discard-stderr --section=1 --source="VYK_UU $version" \
  --version-string="$version" --name="$name" --include="$work/include.h2m" \
  --output="$work/page.1" "$bin"
gzip -9n -c "$work/page.1" >"$out.tmp"
mv "$out.tmp" "$out"
