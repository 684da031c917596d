#!/usr/bin/env bash
# make-guide.sh OUT GUIDE_MD
# The technician's guide as one HTML file that needs nothing beside it: the
# Markdown made HTML by cmark-gfm (tables on), its headings given ids for
# its own links, each picture it names (a path relative to GUIDE_MD)
# embedded as a data: URI. The same input gives the same bytes.
set -euo pipefail
out=$1 guide=$2
export LC_ALL=C
dir=$(dirname "$guide")
title=$(sed -n '1s/^# //p' "$guide")

body=$(cmark-gfm --extension table "$guide")
{
  cat <<HEAD
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>$title</title>
<style>
body { font-family: sans-serif; max-width: 50em; margin: 1em auto; padding: 0 1em; line-height: 1.4; }
table { border-collapse: collapse; }
th, td { border: 1px solid #999; padding: 0.2em 0.5em; vertical-align: top; text-align: left; }
code { background: #eee; }
pre { background: #eee; padding: 0.5em; overflow-x: auto; }
img { max-width: 100%; border: 1px solid #999; }
</style>
</head>
<body>
HEAD
  # Headings get the ids GitHub gives them, so the guide's own links work;
  # each picture (cmark writes <img src="..." alt="..." />) goes inside.
  while IFS= read -r line; do
    if [[ $line =~ ^\<h([1-6])\>(.*)\</h[1-6]\>$ ]]; then
      id=$(sed -e 's/<[^>]*>//g' <<<"${BASH_REMATCH[2]}" | tr 'A-Z' 'a-z' | sed -e 's/[^a-z0-9 -]//g' -e 's/ /-/g')
      line="<h${BASH_REMATCH[1]} id=\"$id\">${BASH_REMATCH[2]}</h${BASH_REMATCH[1]}>"
    fi
    while [[ $line =~ \<img\ src=\"([^\":]+)\" ]]; do
      picture=${BASH_REMATCH[1]}
      [ -f "$dir/$picture" ] || { echo "make-guide: $guide shows $picture, which is missing" >&2; exit 1; }
      line=${line/"src=\"$picture\""/"src=\"data:image/png;base64,$(base64 -w0 "$dir/$picture")\""}
    done
    printf '%s\n' "$line"
  done <<<"$body"
  echo "</body>"
  echo "</html>"
} >"$out.tmp"
mv -- "$out.tmp" "$out"
