#!/usr/bin/env bash
# The window at start, on the simulated EC: caption, placement, every
# control's kind, parent, place, text, enabled state and font, the stacking
# (tab) order, and the seven status panels.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
e2e_setup

sim=$(e2e_new_sim sim)
dir=$(e2e_new_folder app)
cp "$E2E_SIMLIB" "$dir/io.dll"
e2e_start "$dir" "$sim"
sleep 0.5
dump=$(probe dump) || e2e_fail "probe dump failed"
echo "$dump"
e2e_shot "start"

win=$(grep '^window ' <<<"$dump")
grep -q 'caption=\[VYK EC CYPD(CCG5) FW UPDATE UTILITY V1.3\]' <<<"$win" || e2e_fail "caption: $win"
grep -q ' left=400 top=120 ' <<<"$win" || e2e_fail "the window is not at 400,120: $win"
grep -q ' height=510 ' <<<"$win" || e2e_fail "the outer height is not 510: $win"
# The client height is what the outer height of 510 leaves inside this
# platform's frame; the width stays 481.
grep -q ' client=481x' <<<"$win" || e2e_fail "the client area is not 481 wide: $win"
client_h=$(sed -n 's/.* client=481x\([0-9]*\) .*/\1/p' <<<"$win")
grep -q ' thickframe=0 minbox=0 maxbox=0 sysmenu=1 ' <<<"$win" || e2e_fail "border or title-bar buttons: $win"

# name parent x y w h enabled checked bold text; the status bar is docked
# along the bottom edge of the client area.
expected="RadioGroup1 window 8 8 121 57 1 - 0 Switch TYPE C PD
RadioButton1 window 16 24 97 17 1 1 0 PORT 1 PD
RadioButton2 window 16 40 97 17 1 0 0 PORT 2 PD
Label5 window 144 16 253 13 1 - 1 PORT1 FW2 VER : 00 00 00 00 00 00 00 00
GroupBox2 window 8 72 217 153 1 - 0 Write PD FW
Label1 GroupBox2 8 16 121 13 1 - 1 PD FW Start Address
Label2 GroupBox2 8 64 116 13 1 - 1 PD FW End Address
Edit1 window 16 104 65 21 1 - 1 00C000
Edit2 window 16 152 65 21 1 - 1 01FF00
Button1 window 16 184 75 25 1 - 0 Load Bin File
Button2 window 112 184 75 25 0 - 0 Flash Go
GroupBox1 window 240 72 233 153 1 - 0 Read PD FW
Label3 GroupBox1 24 16 121 13 1 - 1 PD FW Start Address
Label4 GroupBox1 24 64 116 13 1 - 1 PD FW End Address
Edit3 window 264 104 65 21 1 - 1 00C000
Edit4 window 264 152 65 21 1 - 1 01FF00
Button3 window 264 184 75 25 1 - 0 Read FW
Button4 window 360 184 75 25 0 - 0 Save Bin File
RichEdit1 window 8 232 465 217 1 - 0 (log)
StatusBar1 window 0 $((client_h - 19)) 481 19 1 - 0 "

field() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<"$1"; }
font_key() {   # what identifies a control's font: its weight when readable, else its handle
  local w
  w=$(field "$1" weight)
  if [ -n "$w" ]; then echo "$w"; else field "$1" handle; fi
}

errors=0
bold_key="" plain_key=""
while read -r name parent x y w h enabled checked bold text; do
  line=$(grep "^control name=$name " <<<"$dump")
  if [ -z "$line" ]; then echo "missing control $name"; errors=$((errors + 1)); continue; fi
  got="$(field "$line" parent) $(field "$line" x) $(field "$line" y) $(field "$line" w) $(field "$line" h) $(field "$line" enabled) $(field "$line" checked)"
  want="$parent $x $y $w $h $enabled $checked"
  if [ "$got" != "$want" ]; then echo "$name: got [$got], want [$want]"; errors=$((errors + 1)); fi
  gottext=$(sed 's/.* text=\[\([^]]*\)\].*/\1/' <<<"$line")
  if [ "$name" != StatusBar1 ] && [ "$gottext" != "$text" ]; then
    echo "$name: text [$gottext], want [$text]"; errors=$((errors + 1))
  fi
  grep -q ' visible=1 ' <<<"$line" || { echo "$name is not visible"; errors=$((errors + 1)); }
  case $name in StatusBar1|RichEdit1) continue ;; esac
  key=$(font_key "$line")
  if [ "$bold" = 1 ]; then
    [ -z "$bold_key" ] && bold_key=$key
    [ "$key" = "$bold_key" ] || { echo "$name: font [$key] differs from the other bold controls [$bold_key]"; errors=$((errors + 1)); }
  else
    [ -z "$plain_key" ] && plain_key=$key
    [ "$key" = "$plain_key" ] || { echo "$name: font [$key] differs from the window's font [$plain_key]"; errors=$((errors + 1)); }
  fi
done <<<"$expected"
[ -n "$bold_key" ] && [ "$bold_key" = "$plain_key" ] && { echo "bold and plain controls share one font"; errors=$((errors + 1)); }
if grep -q 'weight=' <<<"$dump"; then
  [ "$bold_key" = 700 ] || { echo "bold weight is $bold_key"; errors=$((errors + 1)); }
  [ "$plain_key" = 400 ] || { echo "plain weight is $plain_key"; errors=$((errors + 1)); }
  grep "^control name=Button1 " <<<"$dump" | grep -q 'font=\[MS Sans Serif\] height=-11 ' ||
    { echo "the window's font is not MS Sans Serif, 11 pixels"; errors=$((errors + 1)); }
fi

# The log: empty, permanent vertical scroll bar, no horizontal one, editable,
# character set 134.
rich=$(grep '^control name=RichEdit1 ' <<<"$dump")
style=$((16#$(field "$rich" style)))
(( style & 0x00200000 )) || { echo "the log has no vertical scroll bar"; errors=$((errors + 1)); }
(( style & 0x00100000 )) && { echo "the log has a horizontal scroll bar"; errors=$((errors + 1)); }
(( style & 0x2000 )) || { echo "the log's scroll bar is not permanent (ES_DISABLENOSCROLL)"; errors=$((errors + 1)); }
(( style & 0x0800 )) && { echo "the log is read-only"; errors=$((errors + 1)); }
# Where no font here draws GB2312 the program keeps the default set, so
# that the log stays readable.
charset=134
[ "$(probe charset-drawable 134)" = 1 ] || charset=1
grep -q " charset=$charset " <<<"$rich" || { echo "the log's character set is not $charset: $rich"; errors=$((errors + 1)); }
log=$(probe log)
[ -z "$log" ] || { echo "the log is not empty at start: [$log]"; errors=$((errors + 1)); }

# Focus order: Button1, RichEdit1, Button2, Edit1..Edit4, Button3, Button4,
# RadioButton1, RadioButton2 (the group boxes take no focus).
prev=-1
for name in Button1 RichEdit1 Button2 Edit1 Edit2 Edit3 Edit4 Button3 Button4 RadioButton1 RadioButton2; do
  z=$(field "$(grep "^control name=$name " <<<"$dump")" z)
  if [ -z "$z" ] || [ "$z" -le "$prev" ]; then echo "tab order: $name comes too early (z=$z)"; errors=$((errors + 1)); fi
  prev=${z:-$prev}
done
grep "^control name=RadioButton1 " <<<"$dump" | grep -q 'tabstop=1' || { echo "PORT 1 PD is no tab stop"; errors=$((errors + 1)); }
# Tab itself walks that order over the enabled stops ("Flash Go" and "Save
# Bin File" are off at start) and comes round again; the log must not keep it.
walk=$(probe tab-walk 8 | tr -d '\r' | tr '\n' ' ')
[ "$walk" = "Button1 RichEdit1 Edit1 Edit2 Edit3 Edit4 Button3 RadioButton1 Button1 " ] ||
  { echo "Tab walks [$walk]"; errors=$((errors + 1)); }

panels=$(probe panels)
echo "$panels"
grep -q '^parts=7 bar=481 simple=0' <<<"$panels" || { echo "status bar: $(head -n1 <<<"$panels")"; errors=$((errors + 1)); }
edges=$(sed -n 's/^panel [0-9] edge=\(-\?[0-9]*\) .*/\1/p' <<<"$panels" | tr '\n' ' ')
[ "$edges" = "64 128 178 218 258 330 -1 " ] || { echo "panel edges [$edges]"; errors=$((errors + 1)); }
grep -q '^panel 6 .* right=481 ' <<<"$panels" || { echo "panel 6 does not reach the bar's end"; errors=$((errors + 1)); }

# Suspend, resume and any other power event: answered with 0, nothing
# changes.
states() { probe dump | grep '^control' | grep -v 'name=StatusBar1\|name=Label5' | sed 's/ font=.*//'; }
before=$(states)
for event in 0x4 0x7 0x12 0xA; do
  answer=$(probe power $event)
  [ "$answer" = 0 ] || { echo "power event $event answered with [$answer]"; errors=$((errors + 1)); }
done
[ "$before" = "$(states)" ] || { echo "a power event changed the controls"; errors=$((errors + 1)); }

[ "$errors" -eq 0 ] || e2e_fail "$errors layout differences"
probe close
code=$(e2e_wait_exit 30) || e2e_fail "the program did not end"
e2e_expect "exit code" "$code" 0
e2e_log "PASS"
