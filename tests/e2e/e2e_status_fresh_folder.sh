#!/usr/bin/env bash
# A fresh folder: the program writes its own port library as the hidden
# "io.dll" and loads it. Wine cannot open the port driver, so the panel shows
# "IO NG3" there (on Windows with the driver: "io.dll"). A second start finds
# the file, leaves it alone and words its panels in uppercase. Without port
# access the clock panels keep the start-up time, and "Read FW" says that it
# read nothing, naming "IO NG3".
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

dir=$(e2e_new_folder app)
e2e_start "$dir"
[ -f "$dir/io.dll" ] || e2e_fail "no io.dll was written"
cmp -s "$dir/io.dll" "$E2E_PORTLIB" || e2e_fail "io.dll differs from vykport32.dll"
probe attr "$(e2e_winpath "$dir/io.dll")" | grep -q 'hidden=1' || e2e_fail "io.dll is not hidden"
panels=$(probe panels)
echo "$panels"
e2e_shot "first-start"
p2=$(e2e_panel "$panels" 2)
case "$p2" in
  "IO NG3")
    for n in 3 4 5 6; do e2e_expect "panel $n" "$(e2e_panel "$panels" $n)" ""; done ;;
  "io.dll")
    e2e_expect "panel 6" "$(e2e_panel "$panels" 6)" "Open io.dll succeeded "
    e2e_expect "panel 3" "$(e2e_panel "$panels" 3)" "004E" ;;
  *) e2e_fail "panel 2 shows [$p2]" ;;
esac
date=$(e2e_panel "$panels" 0)
time=$(e2e_panel "$panels" 1)
[[ $date =~ ^$E2E_DATE_RE$ ]] || e2e_fail "panel 0 [$date] is no date"
[[ $time =~ ^$E2E_TIME_RE$ ]] || e2e_fail "panel 1 [$time] is no time"

if [ "$p2" = "IO NG3" ]; then
  # Without port access the monitor never runs: the clock panels keep the
  # start-up time.
  sleep 2.2
  e2e_expect "panel 1 after two seconds" "$(e2e_panel "$(probe panels)" 1)" "$time"
  probe click "Read FW" || e2e_fail "cannot press Read FW"
  probe wait-log "Read FW: " 10 >/dev/null || e2e_fail "Read FW said nothing"
  e2e_expect "log" "$(probe log)" "Read FW: nothing read, the port library has no access (IO NG3)"
fi
stamp=$(stat -c '%s %Y %Z' "$dir/io.dll"; sha256sum <"$dir/io.dll")
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0

# Second start in the same folder.
e2e_start "$dir"
panels=$(probe panels)
echo "$panels"
e2e_shot "second-start"
p2=$(e2e_panel "$panels" 2)
case "$p2" in
  "IO NG3") e2e_expect "panel 6" "$(e2e_panel "$panels" 6)" "" ;;
  "IO.DLL") e2e_expect "panel 6" "$(e2e_panel "$panels" 6)" "Open IO.DLL succeeded " ;;
  *) e2e_fail "second start: panel 2 shows [$p2]" ;;
esac
[ "$stamp" = "$(stat -c '%s %Y %Z' "$dir/io.dll"; sha256sum <"$dir/io.dll")" ] ||
  e2e_fail "the second start rewrote io.dll"
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "PASS"
