#!/usr/bin/env bash
# The real window under Xvfb: real key presses and clicks through the X
# server, screenshots checked at known pixels, a notice sampled on screen
# while it should be lit, and closing the window ends the process. Also the
# program without a display: --help and --version print, anything else fails
# plainly.
#   xvfb_test.sh QUORVANT X11_PROBE QUORVANT_CLI
set -uo pipefail
source "$(dirname "$0")/../../scripts/xvfb.sh"
quorvant=$1
probe=$2
cli=$3

work=$(mktemp -d /tmp/quorvant-xvfb-XXXXXX)
passed=0
failed=0
xvfb_pid=""
program_pid=""
cleanup() {
  [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Waits for what a step needs, never for a fixed time: polls COMMAND every
# 0.1 s until it succeeds, for at most SECONDS (bounds are generous, so that a
# busy machine is only slower, not wrong).
wait_until() {  # wait_until SECONDS COMMAND...
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

check() {  # check NAME CONDITION-RESULT(0/1) DETAIL
  if [[ "$2" == 0 ]]; then
    echo "ok: $1"
    passed=$((passed + 1))
  else
    echo "FAILED: $1 ($3)"
    failed=$((failed + 1))
  fi
}

# --- Without a display -------------------------------------------------------
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "$@"; }
version=$(no_display "$quorvant" --version 2>&1)
check "--version prints without a display" "$([[ $? == 0 && "$version" == "quorvant "[0-9]* ]]; echo $?)" "$version"
usage=$(no_display "$quorvant" --help 2>&1)
check "--help prints the usage without a display" \
  "$([[ $? == 0 && "$usage" == *"current folder"* && "$usage" == *"Del"* && "$usage" == *"closing the window"* ]]; echo $?)" \
  "$usage"
no_display "$quorvant" --bogus >/dev/null 2>"$work/bogus.log"
status=$?
check "an unknown argument is refused with status 2" "$([[ $status == 2 && -s "$work/bogus.log" ]]; echo $?)" \
  "status $status"
mkdir "$work/headless" && printf 'x\n' > "$work/headless/x"
(cd "$work/headless" && no_display "$quorvant") 2>"$work/headless.log"
status=$?
check "no display: status 1 and a message, no hidden run" \
  "$([[ $status == 1 ]] && grep -q '^quorvant: .*display' "$work/headless.log"; echo $?)" \
  "status $status: $(cat "$work/headless.log")"

# --- In the window --------------------------------------------------------------
start_xvfb "$work/display" "$work/xvfb.log"
export DISPLAY=$xvfb_display

folder="$work/folder"
mkdir "$folder"
printf 'plain text\n' > "$folder/plain.txt"
printf 'not really encrypted\n' > "$folder/secret.txt 1234567["

# Starts Quorvant in FOLDER on the display DISPLAY (standard error to LOG) and
# waits up to 60 s for its window: program_pid and window are set.
find_window() {  # find_window DISPLAY: sets window
  window=$(DISPLAY=$1 xdotool search --name '^Quorvant$' 2>/dev/null | head -n 1)
  [[ -n "$window" ]]
}
start_in() {  # start_in FOLDER DISPLAY LOG
  (cd "$1" && DISPLAY=$2 exec "$quorvant") 2>"$3" &
  program_pid=$!
  window=""
  wait_until 60 find_window "$2"
}

start_in "$folder" "$DISPLAY" "$work/program.log"
check "the window opens" "$([[ -n "$window" ]]; echo $?)" "no window named Quorvant"
[[ -n "$window" ]] || { echo "$passed passed, $failed failed"; exit 1; }

# The window stands 3 pixels left of the screen's edge, so the screen shows
# client x at screen x - 3. Shots are of the whole screen; pixel() takes
# client coordinates.
eval "$(xdotool getwindowgeometry --shell "$window")"
left=$X
# (-silent: import would ring the bell, which a check below counts.)
shot() { import -silent -window root "$work/shot.png" 2>/dev/null; }
pixel() {  # pixel X Y -> "r,g,b" at client coordinates
  local x=$(($1 + left))
  convert "$work/shot.png" -format "%[fx:int(255*p{$x,$2}.r+0.5)],%[fx:int(255*p{$x,$2}.g+0.5)],%[fx:int(255*p{$x,$2}.b+0.5)]" info:
}
brown_in() {  # brown_in GEOMETRY: pixels of the encrypted-name colour in an area of the last shot
  convert "$work/shot.png" -crop "$1" +repage txt:- | grep -c '#A52A2A'
}
brown_in_name_row() { brown_in 600x18+40+146; }
brown_span() {  # brown_span GEOMETRY: the first and last screen x of brown pixels in an area of the last shot
  convert "$work/shot.png" -crop "$1" +repage txt:- | awk -F'[,:]' -v x0="${1#*+}" \
    '/#A52A2A/ { x = $1 + x0; if (min == "" || x < min) min = x; if (x > max) max = x } END { print min, max }'
}
# The status band's key field, as x11_probe takes an area: X Y WIDTH HEIGHT.
key_field=(20 200 700 18)
shows_pixel() {  # shows_pixel X Y RGB
  shot
  [[ "$(pixel "$1" "$2")" == "$3" ]]
}
wait_for_pixel() { wait_until 30 shows_pixel "$@"; }  # wait_for_pixel X Y RGB
name_row_brown() { shot; [[ "$(brown_in_name_row)" -gt 20 ]]; }
name_row_plain() { shot; [[ "$(brown_in_name_row)" == 0 ]]; }
# A run's journal is there from before its first change to after its last.
# Its name ends in the run id's hex digits; a draft (.new) or a set-aside
# journal (.orphan) does not.
journal_in() { compgen -G "$1/quorvant-journal-*[0-9a-f]" >/dev/null; }
# End and Home show the last and the first file, where the last one's name
# is brown and the first one's is not. Keys are handled in order, and those
# that come during a notice or a run are dropped, so each is pressed again
# until it shows (twice changes nothing): once it shows, everything pressed
# before it is handled, and the program waits for the next input.
end_shows_last() { xdotool key End && wait_until 2 name_row_brown; }
home_shows_first() { xdotool key Home && wait_until 2 name_row_plain; }

# The icon row's Lavender frames on black.
wait_for_pixel 20 95 "239,216,255"
check "first icon frame is Lavender" $? "$(pixel 20 95)"
frames_ok=0
for i in 0 1 2 3 4 5 6; do
  x=$((20 + 27 * i))
  [[ "$(pixel $x 95)" == "239,216,255" && "$(pixel $((x + 19)) 114)" == "239,216,255" ]] || frames_ok=1
  [[ "$(pixel $((x + 1)) 96)" == "0,0,0" ]] || frames_ok=1
done
check "seven icon frames with their black rings" $frames_ok "frame pixels differ"
check "background is black" "$([[ "$(pixel 600 600)" == "0,0,0" ]]; echo $?)" "$(pixel 600 600)"
check "a plain file's name is not brown" "$([[ "$(brown_in_name_row)" == 0 ]]; echo $?)" "brown pixels"

# A real Down key moves to the encrypted file: its name turns brown.
xdotool mousemove --window "$window" 640 600
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key Down
wait_until 30 name_row_brown
check "Down shows the encrypted file in brown" $? "no brown name"

# Up again, and the name is plain once more.
xdotool key Up
wait_until 30 name_row_plain
check "Up shows the plain file again" $? "still brown"

# Enter, a key typed on the keyboard, Enter: the plain file is encrypted in
# place and renamed; the same key decrypts it.
encrypted_plain() { compgen -G "$folder/plain.txt ???????[" >/dev/null; }
# The name changes first; the run is over once its journal is gone.
encrypted_done() { encrypted_plain && ! journal_in "$folder"; }
decrypted_done() { [[ -f "$folder/plain.txt" ]] && ! journal_in "$folder"; }
original=$(md5sum < "$folder/plain.txt")
xdotool key Return
xdotool type --delay 20 'open sesame'
xdotool key Return
wait_until 60 encrypted_done
check "Enter, key, Enter encrypts the file" $? "$(ls "$folder")"
encrypted_file=$(compgen -G "$folder/plain.txt ???????[" | head -n 1)
check "the encrypted content differs" "$([[ -n "$encrypted_file" && "$(md5sum < "$encrypted_file")" != "$original" ]]; echo $?)" "same content"

xdotool key Return
xdotool type --delay 20 'open sesame'
xdotool key Return
wait_until 60 decrypted_done
check "the same key decrypts it" "$([[ -f "$folder/plain.txt" && "$(md5sum < "$folder/plain.txt")" == "$original" ]]; echo $?)" \
  "$(ls "$folder")"

# Clicks that come while a run is under way are dropped: the program is
# first seen waiting again (End, Home), then clicked.
wait_until 30 end_shows_last
wait_until 30 home_shows_first
check "the program waits again after the run" $? "the first file is not shown"

# The Help icon shows the legend: the first legend icon's frame at (20, 241).
xdotool mousemove --window "$window" 192 105 click 1
wait_for_pixel 20 241 "239,216,255"
check "the Help icon shows the legend" $? "$(pixel 20 241)"
xdotool mousemove --window "$window" 192 105 click 1
wait_for_pixel 20 241 "0,0,0"
check "a second click hides it" $? "$(pixel 20 241)"

# The on-screen keyboard: Enter, then three clicks on one character key (its
# character depends on the moment the keyboard opened), then the on-screen
# Enter key. One of the 95 characters, thrice, must decrypt the result.
# Keys and clicks reach the program by separate ways, so each step waits
# until the key field shows the one before: the caret after Enter, then the
# caret one character further right after each click.
# The decryption above left its undo mark: a file that looks changed since
# (another modification time) is encrypted anew with any key, unasked.
touch -d '2001-01-01' "$folder/plain.txt"
xdotool mousemove --window "$window" 138 105 click 1
wait_for_pixel 30 300 "47,79,79"
check "the Keyboard icon shows the keyboard" $? "$(pixel 30 300)"
xdotool key Return
"$probe" caret "$window" "${key_field[@]}"
check "Enter opens the key field" $? "no caret"
typed=0
for _ in 1 2 3; do
  "$probe" caret "$window" "${key_field[@]}" xdotool mousemove --window "$window" 40 313 click 1 && typed=$((typed + 1))
done
check "each click on a key types one character" "$([[ $typed == 3 ]]; echo $?)" "$typed of 3"
xdotool mousemove --window "$window" 50 270 click 1
wait_until 60 encrypted_done
check "keys clicked on the keyboard encrypt the file" $? "$(ls "$folder")"
clicked_key=""
encrypted_file=$(compgen -G "$folder/plain.txt ???????[" | head -n 1)
if [[ -n "$encrypted_file" ]]; then
  for code in $(seq 32 126); do
    c=$(printf "\\$(printf '%03o' "$code")")
    trial="$work/trial"
    rm -rf "$trial" && mkdir "$trial" && cp "$encrypted_file" "$trial/"
    if printf '%s\n' "$c$c$c" | "$cli" decrypt "$trial/$(basename "$encrypted_file")" >/dev/null 2>&1 &&
      [[ "$(md5sum < "$trial/plain.txt")" == "$original" ]]; then
      clicked_key="$c$c$c"
      break
    fi
  done
fi
check "the clicked key is three times one character" "$([[ -n "$clicked_key" ]]; echo $?)" "no key decrypts it"

# Closing the window ends the process.
program_gone() { ! kill -0 "$program_pid" 2>/dev/null; }
"$probe" close "$window"
wait_until 60 program_gone
ended=$?
check "closing the window ends the process" $ended "still running after 60 s"
if [[ $ended == 0 ]]; then
  wait "$program_pid"
  check "the process exits normally" $? "exit status"
  program_pid=""
fi

check "nothing on standard error" "$([[ ! -s "$work/program.log" ]]; echo $?)" "$(head -c 500 "$work/program.log")"

# --- A notice stays on screen for its time ------------------------------------
# In a folder without encrypted files the Encrypted icon shows "No encrypted
# files" in Grey for a second. The status band is sampled every 5 ms from the
# click on; the bound is generous, this is no measure of speed.
plain="$work/plain"
mkdir "$plain"
printf 'one\n' > "$plain/one.txt"
long_name="b$(printf 'n%.0s' $(seq 250))"
printf 'two\n' > "$plain/$long_name"
start_in "$plain" "$DISPLAY" "$work/plain.log"
check "the window opens again" "$([[ -n "$window" ]]; echo $?)" "no window: $(head -c 500 "$work/plain.log")"
[[ -n "$window" ]] || { echo "$passed passed, $failed failed"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
left=$X
wait_for_pixel 20 95 "239,216,255"
# Sets lit and gap: how long a notice in RGB stayed in the status band after
# SETUP and then COMMAND, and how far apart the probe's looks came at most. A
# measure whose looks came more than 200 ms apart (a busy machine) cannot
# tell 1000 ms from a flash: the notice is called up again, up to 5 times.
measure_notice() {  # measure_notice RGB SETUP COMMAND...
  local rgb=$1 setup=$2
  shift 2
  for _ in 1 2 3 4 5; do
    "$setup"
    read -r lit gap < <("$probe" lit "$window" 20 200 200 18 "$rgb" "$@")
    [[ "$gap" =~ ^[0-9]+$ && $gap -le 200 ]] && return
    wait_for_pixel 20 200 "0,0,0"
  done
}
measure_notice 808080 : xdotool mousemove --window "$window" 57 105 click 1
check "the 1000 ms notice stays lit on screen" \
  "$([[ "$lit" =~ ^[0-9]+$ && $lit -ge 500 && $lit -lt 10000 && $gap -le 200 ]]; echo $?)" \
  "lit for $lit ms, looks up to $gap ms apart"

# A refusal rings the bell: the X server's, which prints nothing anywhere.
# (An encrypted name would be too long for the file system.)
type_key_for_first() { xdotool key Home Return && xdotool type --delay 20 'k'; }
measure_notice A52A2A type_key_for_first xdotool key Return
check "a refusal's notice shows in Brown" "$([[ "$lit" =~ ^[0-9]+$ && $lit -ge 500 && $gap -le 200 ]]; echo $?)" \
  "lit for $lit ms, looks up to $gap ms apart"
check "the long-named file is untouched" "$([[ -f "$plain/$long_name" ]]; echo $?)" "$(ls "$plain")"

# A plain file whose name merely looks encrypted, "decrypted": its start
# comes out as noise, so the program asks "Key looks wrong". Enter pressed
# three times in a row confirms the key; the two after it come before the
# question could be read and must not answer it: it stays on screen, and the
# file is unchanged, until a key pressed afterwards (Esc) stops the run.
asked_name="minutes 1234567["
for i in $(seq 40); do printf 'item %d of the minutes\n' "$i"; done > "$plain/$asked_name"
asked_original=$(md5sum < "$plain/$asked_name")
wait_for_pixel 20 200 "0,0,0"
# Once the folder watch lists the new file, it is the second of three (after
# "bnnn..."), shown in brown.
home_down_brown() {
  xdotool key Home Down
  wait_until 2 name_row_brown
}
wait_until 6 home_down_brown
check "the new file is listed" $? "$(ls "$plain")"
xdotool key Return
xdotool type --delay 20 'k'
read -r lit gap < <("$probe" lit "$window" 20 200 200 18 A52A2A xdotool key --delay 30 Return Return Return)
check "\"Key looks wrong\" is not answered by keys typed ahead" \
  "$([[ "$lit" =~ ^[0-9]+$ && $lit -ge 9000 && "$(md5sum < "$plain/$asked_name")" == "$asked_original" ]]; echo $?)" \
  "lit for $lit ms; $(ls "$plain")"
# The question names its answer, whole and within the status band: its
# brown text reaches well past its first words and ends inside the window.
question_fits_band() {  # question_fits_band NAME: checks the question on screen now
  shot
  read -r brown_from brown_to < <(brown_span 1280x18+0+200)
  check "$1" \
    "$([[ "$brown_from" =~ ^[0-9]+$ && $((brown_from - left)) -ge 20 && $((brown_to - brown_from)) -ge 250 && \
          $((brown_to - left)) -lt $((1280 + left)) ]]; echo $?)" \
    "brown from x $brown_from to $brown_to on screen"
  echo "note: $1: client x $((brown_from - left)) to $((brown_to - left))"
}
question_fits_band "the question says Enter decrypts, Esc stops, within the band"
status_band_plain() { shot; [[ "$(brown_in 600x18+20+200)" == 0 ]]; }
status_band_brown() { shot; [[ "$(brown_in 600x18+20+200)" -gt 20 ]]; }
xdotool key Escape
wait_until 30 status_band_plain
check "Esc takes the question away" $? "still asked"
check "Esc leaves the questioned file as it was" \
  "$([[ -f "$plain/$asked_name" && "$(md5sum < "$plain/$asked_name")" == "$asked_original" ]]; echo $?)" \
  "$(ls "$plain")"

# A file the tool decrypted carries its undo mark: Enter with another key
# than the decrypting one asks first, within the band, and Esc leaves it.
marked_name="zz marked.txt"
for i in $(seq 40); do printf 'marked line %d\n' "$i"; done > "$plain/$marked_name"
printf 'right\n' | "$cli" encrypt --format classic "$plain/$marked_name" >/dev/null
printf 'right\n' | "$cli" decrypt "$(compgen -G "$plain/$marked_name ???????[")" >/dev/null
marked_original=$(md5sum < "$plain/$marked_name")
# Listed once the last file is a plain one (before, it is the brown "minutes").
end_shows_plain() { xdotool key End && wait_until 2 name_row_plain; }
wait_until 6 end_shows_plain
check "the decrypted file is listed" $? "$(ls "$plain")"
xdotool key Return
xdotool type --delay 20 'other'
xdotool key Return
wait_until 30 status_band_brown
check "another key than the decrypting one is asked about" $? "no question"
question_fits_band "that question fits the band"
xdotool key Escape
wait_until 30 status_band_plain
check "Esc leaves the decrypted file as it was" \
  "$([[ -f "$plain/$marked_name" && "$(md5sum < "$plain/$marked_name")" == "$marked_original" ]]; echo $?)" \
  "$(ls "$plain")"

"$probe" close "$window"
wait_until 60 program_gone
ended=$?
check "closing ends the process" $ended "still running after 60 s"
[[ $ended == 0 ]] && { wait "$program_pid"; program_pid=""; }
# The notice's cause, in the tool's words, and nothing else.
check "the notice's cause on standard error" \
  "$(grep -q ': the new name would be too long: File name too long$' "$work/plain.log"; echo $?)" \
  "$(head -c 500 "$work/plain.log")"
check "nothing else on standard error" \
  "$([[ -z $(grep -v ': the new name would be too long: ' "$work/plain.log") ]]; echo $?)" \
  "$(head -c 500 "$work/plain.log")"

# Starts Quorvant in FOLDER (standard error to LOG) and checks, as NAME,
# that its window opened (the script ends here if not); then makes it ready
# for keys: its position read, its icon row drawn, the pointer over it and
# the focus on it.
open_window_in() {  # open_window_in FOLDER LOG NAME
  start_in "$1" "$DISPLAY" "$2"
  check "$3" "$([[ -n "$window" ]]; echo $?)" "no window: $(head -c 500 "$2")"
  [[ -n "$window" ]] || { echo "$passed passed, $failed failed"; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$window")"
  left=$X
  wait_for_pixel 20 95 "239,216,255"
  xdotool mousemove --window "$window" 640 600
  xdotool windowfocus --sync "$window" 2>/dev/null || true
}

# --- A key held down: one press, one action ------------------------------------
# The X server repeats a key held down: the probe counts the presses it
# sends the window and lets go only once it has seen them all, so the key is
# surely held through its repeats. Keys are handled in order, so once End,
# pressed after the release, shows the last file (in brown), every repeat
# before it has been handled; the folder then says what they did. (End is
# pressed again if a notice dropped it: it changes nothing twice.)
held="$work/held"
mkdir "$held"
for name in a b c d e; do printf '%s\n' "$name" > "$held/$name.txt"; done
printf 'z\n' > "$held/z.txt 1234567["
open_window_in "$held" "$work/held.log" "the window opens for the held keys"
held_files() { find "$held" -maxdepth 1 -type f | wc -l; }
hold() {  # hold KEYSYM PRESSES: holds the key until the window got PRESSES presses of it; sets presses, held_ms
  presses=0 held_ms=0
  read -r presses held_ms < <("$probe" presses "$window" "$1" "$2" xdotool keydown "$1")
  xdotool keyup "$1"
  [[ "$presses" == "$2" ]]
}

# A held arrow key moves through the list: from the first file to the last.
hold Down 10
held_ok=$?
wait_until 20 name_row_brown
check "Down held moves through the list ($presses presses in $held_ms ms)" "$([[ $held_ok == 0 ]] && name_row_brown; echo $?)" \
  "$presses presses; the last file is not shown"
wait_until 20 home_shows_first

# Del held from the start: the erase prompt, and nothing erased.
hold Delete 30
held_ok=$?
wait_until 20 end_shows_last
check "Del held erases nothing by itself ($presses presses in $held_ms ms)" \
  "$([[ $held_ok == 0 && $(held_files) == 6 ]]; echo $?)" "$presses presses; $(ls "$held")"
wait_until 20 home_shows_first

# Del pressed and let go, then Del held through "Erased" and beyond: the
# one file is erased, no other.
xdotool key Delete
wait_until 30 status_band_brown
check "Del asks to erase" $? "no prompt"
hold Delete 40
held_ok=$?
wait_until 30 end_shows_last
check "after Del, a held Del erases the one file ($presses presses in $held_ms ms)" \
  "$([[ $held_ok == 0 && $(held_files) == 5 && ! -e "$held/a.txt" ]]; echo $?)" "$presses presses; $(ls "$held")"

# Enter held on a file another program holds: one "Already open" (one
# beep of the X server's bell), however long it is held. The bell is
# counted from before the hold until End shows the last file again.
wait_until 20 home_shows_first
exec 7<"$held/b.txt"
rm -f "$work/bells.ready" "$work/bells.stop"
# (The probe hands its command to sh as one line; $work has no spaces.)
"$probe" bells "touch $work/bells.ready; while [ ! -e $work/bells.stop ]; do sleep 0.1; done" >"$work/bells" 2>&1 &
bells_pid=$!
wait_until 30 test -e "$work/bells.ready"
hold Return 30
held_ok=$?
wait_until 30 end_shows_last
touch "$work/bells.stop"
wait "$bells_pid"
exec 7<&-
check "Enter held on a file held elsewhere gives one notice ($presses presses in $held_ms ms)" \
  "$([[ $held_ok == 0 && "$(cat "$work/bells")" == 1 ]]; echo $?)" "bells: $(cat "$work/bells")"

"$probe" close "$window"
wait_until 60 program_gone
ended=$?
check "closing ends the held-key window" $ended "still running after 60 s"
[[ $ended == 0 ]] && { wait "$program_pid"; program_pid=""; }
check "nothing on standard error after the held keys but the notice's cause" \
  "$([[ -z $(grep -v '^quorvant: b.txt: another program has it open or locked: ' "$work/held.log") ]]; echo $?)" \
  "$(head -c 500 "$work/held.log")"

# --- Tab during key entry: the strong format ------------------------------------
# Enter, Tab, a key, Enter: the file comes out in the strong format (its name
# ends in "]"), which the command-line tool verifies and decrypts with the
# same key, and the list shows it as encrypted (its name in brown). Once the
# caret shows, key entry is open; keys are then handled in order.
strong="$work/strong"
mkdir "$strong"
printf 'a note to keep safe\n' > "$strong/note.txt"
strong_original=$(md5sum < "$strong/note.txt")
open_window_in "$strong" "$work/strong.log" "the window opens for the strong format"
check "a plain file is listed plain" "$(name_row_plain; echo $?)" "brown pixels"
xdotool key Return
"$probe" caret "$window" "${key_field[@]}"
check "Enter opens the key field for the strong run" $? "no caret"
xdotool key Tab
xdotool type --delay 20 'strong key'
xdotool key Return
strong_file() { compgen -G "$strong/note.txt ???????]" | head -n 1; }
strong_done() { [[ -n "$(strong_file)" ]] && ! journal_in "$strong"; }
wait_until 60 strong_done
check "Tab during key entry encrypts in the strong format" $? "$(ls "$strong")"
strong_encrypted=$(strong_file)
printf 'strong key\n' | "$cli" verify "$strong_encrypted" >/dev/null 2>&1
check "the tool verifies the strong file with the same key" $? "$(ls "$strong")"
rm -rf "$work/strong-copy" && mkdir "$work/strong-copy" && cp "$strong_encrypted" "$work/strong-copy/"
printf 'strong key\n' | "$cli" decrypt "$work/strong-copy/$(basename "$strong_encrypted")" >/dev/null 2>&1 &&
  [[ "$(md5sum < "$work/strong-copy/note.txt")" == "$strong_original" ]]
check "the tool decrypts it to the original" $? "$(ls "$work/strong-copy")"
wait_until 30 name_row_brown
check "the strong file is listed in brown" $? "no brown name"

"$probe" close "$window"
wait_until 60 program_gone
ended=$?
check "closing ends the strong-format window" $ended "still running after 60 s"
[[ $ended == 0 ]] && { wait "$program_pid"; program_pid=""; }
check "nothing on standard error after the strong run" "$([[ ! -s "$work/strong.log" ]]; echo $?)" \
  "$(head -c 500 "$work/strong.log")"

# --- A run cut short by a hang-up or a lost X connection ----------------------
# Either way the file run in progress is finished before the process ends,
# as after a close of the window: the file ends fully encrypted, never half.
# The program is held (SIGSTOP) once its run's journal is there, and cut
# while held, so the cut surely lands mid-run; a run that was over before it
# could be held is tried again, looking more often.
start_encryption() {  # start_encryption FOLDER DISPLAY LOG: Enter, a key, Enter on big.bin
  start_in "$1" "$2" "$3" || return 1
  DISPLAY=$2 xdotool windowfocus --sync "$window" 2>/dev/null || true
  DISPLAY=$2 xdotool key Return
  DISPLAY=$2 "$probe" caret "$window" "${key_field[@]}" || return 1
  DISPLAY=$2 xdotool type --delay 20 'k'
  DISPLAY=$2 xdotool key Return
}
program_state() { awk '{print $3}' "/proc/$program_pid/stat" 2>/dev/null; }
held() { [[ "$(program_state)" == T ]]; }
# Holds the program as soon as FOLDER has a journal, looking every STEP s;
# true when it is held with the journal still there.
hold_mid_run() {  # hold_mid_run FOLDER STEP
  local deadline=$((SECONDS + 60))
  until journal_in "$1"; do
    kill -0 "$program_pid" 2>/dev/null || return 1
    compgen -G "$1/big.bin ???????[" >/dev/null && ! journal_in "$1" && return 1  # over already
    ((SECONDS < deadline)) || return 1
    sleep "$2"
  done
  kill -STOP "$program_pid" 2>/dev/null || return 1
  wait_until 30 held || return 1
  journal_in "$1"
}
ended_within() {  # ended_within SECONDS: the program has exited; its status in program_status
  wait_until "$1" program_gone || return 1
  wait "$program_pid"
  program_status=$?
  program_pid=""
}
decrypts_to_original() {  # decrypts_to_original FOLDER MD5
  local encrypted
  encrypted=$(compgen -G "$1/big.bin ???????[" | head -n 1)
  [[ -n "$encrypted" ]] && printf 'k\n' | "$cli" decrypt "$encrypted" >/dev/null 2>&1 &&
    [[ "$(md5sum < "$1/big.bin")" == "$2" ]]
}
head -c $((200 * 1024 * 1024)) /dev/urandom > "$work/big.bin"
big_original=$(md5sum < "$work/big.bin")
for cut in hangup connection; do
  folder="$work/$cut"
  cut_mid_run=1
  for step in 0.01 0; do
    rm -rf "$folder" && mkdir "$folder" && cp "$work/big.bin" "$folder/big.bin"
    if [[ $cut == hangup ]]; then
      display=$DISPLAY
    else
      first_xvfb=$xvfb_pid
      start_xvfb "$work/display2"
      second_xvfb=$xvfb_pid
      xvfb_pid=$first_xvfb
      display=$xvfb_display
    fi
    if start_encryption "$folder" "$display" "$work/$cut.log" && hold_mid_run "$folder" "$step"; then
      cut_mid_run=0
      if [[ $cut == hangup ]]; then kill -HUP "$program_pid"; else kill -9 "$second_xvfb"; fi
      kill -CONT "$program_pid"
      break
    fi
    echo "note: the $cut run was over before it could be held; again, looking more often"
    kill -CONT "$program_pid" 2>/dev/null
    kill -9 "$program_pid" 2>/dev/null
    [[ $cut == connection ]] && kill -9 "$second_xvfb" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    program_pid=""
  done
  check "a $cut came while the run was under way (its journal there)" $cut_mid_run "$(ls "$folder")"
  ended_within 120
  check "after a $cut the program ends" $? "still running"
  expected_status=0
  [[ $cut == connection ]] && expected_status=3
  check "after a $cut the exit status is $expected_status" "$([[ $program_status == "$expected_status" ]]; echo $?)" \
    "status $program_status"
  check "after a $cut no journal is left" "$(! journal_in "$folder"; echo $?)" "$(ls "$folder")"
  decrypts_to_original "$folder" "$big_original"
  check "after a $cut the file was encrypted whole" $? "$(ls "$folder")"
  [[ -n "$program_pid" ]] && kill -9 "$program_pid" 2>/dev/null
  program_pid=""
  rm -rf "$folder"
done

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
