#!/usr/bin/env bash
# Drives the real folivex.exe window under Wine the way a user does: a click
# on the home button opening the explore address in the browser, the
# book address on the clipboard, a double click on the address box, the
# cover and title appearing, a click on the download button, the completion
# box, every page on disk byte for byte as the site serves it, then the
# window closed by its close box and the exit code checked.
#   gui_e2e.sh BUILD_DIR FOLIVEX_EXE SAMPLE_SITE_EXE [OPTIONS]
#     --https HOST_SITE  the book over HTTPS: the sample site built for the
#                        host serves it with a certificate of the test root
#                        that the prefix trusts (see wine-start.sh)
#     --locale LOCALE    run the program under another locale (e.g.
#                        en_US.UTF-8), in a prefix of its own made under it,
#                        with font links to the CJK font
#     --name NAME        names the work folder and the screenshots (gui-e2e)
#     --close-mid-download  end by closing the window while a slow book
#                        downloads: the folder must then hold whole pages only
#     --webp             a book whose pages exist only as WebP, behind a
#                        Referer check: the pages are saved as n.webp (Wine's
#                        imaging has no WebP decoder, so the cover box may
#                        stay empty; the download must not care)
# Needs the build tree's Wine started (wine-start.sh, the "wine" fixture).
# Leaves build/<dir>/artifacts/NAME.png (the window after the download)
# and NAME-message.png (the screen with the completion box); on failure
# NAME-failure.png and the step that failed.
set -u

build=$1
folivex_exe=$2
site_exe=$3
shift 3
host_site=
run_locale=
run_name=gui-e2e
close_mid_download=
webp=
ext=jpg
site_args=()
referer=()
slow_pid=
while [ $# -gt 0 ]; do
  case $1 in
    --https) host_site=$2; shift 2 ;;
    --locale) run_locale=$2; shift 2 ;;
    --name) run_name=$2; shift 2 ;;
    --close-mid-download) close_mid_download=yes; shift ;;
    --webp) webp=yes; ext=webp; site_args=(--format webp --referer-check); shift ;;
    *) echo "gui_e2e.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

pages=8
# The sample site's default title, as the folder name beside the program.
title='春天的画册'
# Client-area places of the controls that are clicked or looked at.
url_box_centre=(292 24)     # 书籍地址框 192,8 200x32
button_centre=(568 128)     # 按钮2 528,105 80x47
home_centre=(224 128)       # 主页按钮 184,104 80x48
explore_address='http://www.folivex.com/explore/'
cover_box=(16 8 116 160)    # 封面框 inside 图片框1 at 16,8
bar_box=(222 59 234 32)     # 进度条
title_box=(432 7 192 32)    # 书名框

artifacts="$build/artifacts"
work="$build/$run_name"
started=$(date +%s%N)
step="starting"

log() {
  local tenths=$((($(date +%s%N) - started) / 100000000))
  printf '[%4d.%ds] %s\n' $((tenths / 10)) $((tenths % 10)) "$*"
}

# running PID: the process lives (a zombie that nobody has waited for yet
# does not count).
running() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null)
  [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

site_pid=
app_pid=
clip_pid=
app_window=

screen_shot() {
  # ImageMagick's import builds the picture from each window's own contents;
  # a plain xwd of the root shows Wine's message boxes as black squares on
  # Xvfb (their pixels never reach the root's frame buffer).
  import -window root "png:$1" 2>/dev/null || xwd -root -silent | convert xwd:- "png:$1"
}

window_shot() { xwd -id "$1" -silent 2>/dev/null | convert xwd:- "png:$2" 2>/dev/null; }

fail() {
  log "FAILED at step '$step': $*"
  if [ -n "${DISPLAY:-}" ]; then
    screen_shot "$artifacts/$run_name-failure.png" && log "screen at the failure: $artifacts/$run_name-failure.png"
  fi
  exit 1
}

cleanup() {
  if [ -n "$clip_pid" ]; then kill "$clip_pid" 2>/dev/null; fi
  if [ -n "$app_pid" ] && running "$app_pid"; then
    kill "$app_pid" 2>/dev/null
    sleep 1
    kill -9 "$app_pid" 2>/dev/null
  fi
  if [ -n "$site_pid" ]; then
    # The site stops when its standard input ends; killed if it does not.
    exec 3>&- 2>/dev/null
    for _ in $(seq 1 50); do running "$site_pid" || break; sleep 0.1; done
    kill "$site_pid" 2>/dev/null
    sleep 0.5
    kill -9 "$site_pid" 2>/dev/null
  fi
  if [ -n "$slow_pid" ]; then
    exec 4>&- 2>/dev/null
    sleep 1
    kill "$slow_pid" 2>/dev/null
  fi
  # The other locale's prefix has a wineserver of its own.
  if [ -n "$run_locale" ]; then
    timeout 20 "$wineserver" -k >/dev/null 2>&1
    timeout 20 "$wineserver" -w >/dev/null 2>&1
  fi
  true
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

# poll SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds.
poll() {
  local limit=$1 deadline
  shift
  deadline=$(($(date +%s) + limit))
  while :; do
    "$@" && return 0
    [ "$(date +%s)" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# mean_colour FILE X Y W H: the average colour of a rectangle as RRGGBB.
mean_colour() {
  convert "$1" -crop "$4x$5+$2+$3" +repage -scale '1x1!' -depth 8 txt:- 2>/dev/null |
    sed -n '2s/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p'
}

# colours FILE X Y W H: how many different colours a rectangle holds.
colours() { convert "$1" -crop "$4x$5+$2+$3" +repage -format %k info: 2>/dev/null; }

# near A B: two RRGGBB colours differ by less than 24 in every channel.
near() {
  local a=$1 b=$2 i d
  [ -n "$a" ] && [ -n "$b" ] || return 1
  for i in 0 2 4; do
    d=$((16#${a:i:2} - 16#${b:i:2}))
    [ "${d#-}" -lt 24 ] || return 1
  done
}

# --- Tools and the build tree's Wine -------------------------------------
step="checking tools"
for tool in xdotool xclip xwd convert import curl cmp mkfifo ps iconv; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -f "$build/wine-env.sh" ] || fail "$build/wine-env.sh is missing (not a Windows build tree)"
[ -f "$folivex_exe" ] || fail "$folivex_exe is missing"
[ -f "$site_exe" ] || fail "$site_exe is missing"
# shellcheck source=/dev/null
. "$build/wine-env.sh"
[ -n "${DISPLAY:-}" ] || fail "no display: the wine fixture (wine-start.sh) has not run"
xdotool getmouselocation >/dev/null 2>&1 || fail "display $DISPLAY does not answer"

rm -rf "$work"
mkdir -p "$work/program" "$artifacts" || fail "cannot create $work"
rm -f "$artifacts/$run_name.png" "$artifacts/$run_name-message.png" "$artifacts/$run_name-failure.png"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
# Everything from here on runs under the tree's prefix, unless another
# locale asks for a prefix of its own.
# (A command, not a function: started in the background, the program's own
# process must be the one whose pid the window carries.)
run_program=("$build/wine-run")
if [ -n "$run_locale" ]; then
  step="preparing a prefix for $run_locale"
  locale -a 2>/dev/null | grep -qix "$(printf '%s' "$run_locale" | sed 's/UTF-8/utf8/I')" ||
    fail "the locale $run_locale is not generated (scripts/lib/prepare.sh makes it)"
  # A prefix runs under the locale that made it, with its own wineserver.
  export LANG=$run_locale LC_ALL=$run_locale
  export WINEPREFIX="$build/wineprefix-${run_locale%%.*}"
  FOLIVEX_WINE=$FOLIVEX_WINE sh "$(dirname "$0")/../../cmake/wine-prefix.sh" --font-links \
    >"$work/prefix.log" 2>&1 || fail "cannot make $WINEPREFIX: $(tail -n 3 "$work/prefix.log")"
  # Its background services write to a log, never to this script's pipes.
  sh -c 'exec >"$1" 2>&1 </dev/null; "$2" -p30; exec "$3" wineboot' sh "$work/wine-start.log" \
    "$wineserver" "$FOLIVEX_WINE" || fail "wineboot failed in $WINEPREFIX"
  run_program=("$FOLIVEX_WINE")
  log "prefix $WINEPREFIX under $LANG"
fi
# Wine's shell opens web addresses with winebrowser, which runs the first
# program of its Browsers list: here a stand-in that only writes down the
# address, so the home button's shell call is seen and nothing is fetched.
if ! printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$work/browser-opened.txt" >"$work/browser-stand-in" ||
  ! chmod +x "$work/browser-stand-in"; then
  fail "cannot write the browser stand-in"
fi
# The program saves its books beside itself.
cp "$folivex_exe" "$work/program/folivex.exe" || fail "cannot copy folivex.exe"
log "display $DISPLAY, program in $work/program"

# --- The sample site --------------------------------------------------------
step="starting the sample site"
mkfifo "$work/site-input" || fail "mkfifo failed"
cacert=()
if [ -n "$host_site" ]; then
  # Served natively over TLS; the revocation list at the certificate's
  # distribution point comes from the same process.
  "$host_site" --tls "$build/test-ca" --pages "$pages" --until-stdin-closes \
    <"$work/site-input" >"$work/site.out" 2>"$work/site.err" &
  cacert=(--cacert "$build/test-ca/ca.pem")
else
  "$build/wine-run" "$site_exe" --pages "$pages" "${site_args[@]}" --until-stdin-closes \
    <"$work/site-input" >"$work/site.out" 2>"$work/site.err" &
fi
site_pid=$!
# Held open until the end; closing it stops the site.
exec 3>"$work/site-input"
poll 60 grep -q '^http' "$work/site.out" ||
  fail "the site printed no address within 60 s: $(cat "$work/site.err")"
book_url=$(head -n 1 "$work/site.out" | tr -d '\r')
image_base=${book_url%index.html}files/mobile/
# The pictures of a Referer-checked book come only to their book page.
[ -n "$webp" ] && referer=(-e "$book_url")
curl "${cacert[@]}" -fsS -o /dev/null --max-time 10 "$book_url" || fail "the book page $book_url does not load"
log "site: $book_url ($pages pages)"

# --- The program's window ---------------------------------------------------
step="starting folivex.exe"
"${run_program[@]}" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$work/browser-stand-in" /f \
  >/dev/null 2>&1 || fail "cannot name the browser stand-in in the prefix"
"${run_program[@]}" "$work/program/folivex.exe" >"$work/folivex.out" 2>&1 &
app_pid=$!

find_app_window() {
  app_window=$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Folivex' 2>/dev/null | head -n 1)
  [ -n "$app_window" ]
}
step="waiting for the window"
poll 60 find_app_window || fail "no window titled Folivex within 60 s"
eval "$(xdotool getwindowgeometry --shell "$app_window")"
win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
log "window $app_window at $win_x,$win_y, ${win_w}x$win_h"

# Wine draws the frame itself, so the X window is the outer frame. The client
# origin is found from the empty cover box: from a point inside it, the first
# different pixel to the left and above is its border at client 16,8, and
# the one to the right its far edge 115 pixels on.
frame_x='' frame_y=''
# line_colours FILE GEOMETRY: the colours of a one-pixel row or column, one per line.
line_colours() {
  convert "$1" -crop "$2" +repage -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p'
}
find_client_origin() {
  local shot="$work/window-start.png" x=70 y=110 row column inside left right up
  window_shot "$app_window" "$shot" || return 1
  mapfile -t row < <(line_colours "$shot" "${win_w}x1+0+$y")
  mapfile -t column < <(line_colours "$shot" "1x${win_h}+$x+0")
  [ "${#row[@]}" -eq "$win_w" ] && [ "${#column[@]}" -eq "$win_h" ] || return 1
  inside=${row[x]}
  left='' right='' up=''
  for ((i = x - 1; i >= 0; i--)); do [ "${row[i]}" != "$inside" ] && { left=$i; break; }; done
  for ((i = x + 1; i < win_w; i++)); do [ "${row[i]}" != "$inside" ] && { right=$i; break; }; done
  for ((i = y - 1; i >= 0; i--)); do [ "${column[i]}" != "$inside" ] && { up=$i; break; }; done
  [ -n "$left" ] && [ -n "$right" ] && [ -n "$up" ] || return 1
  [ $((right - left)) -eq $((cover_box[2] - 1)) ] || return 1
  frame_x=$((left - cover_box[0]))
  frame_y=$((up - cover_box[1]))
  [ "$frame_x" -ge 0 ] && [ "$frame_x" -le 16 ] && [ "$frame_y" -ge 8 ] && [ "$frame_y" -le 60 ]
}
step="finding the client area"
poll 30 find_client_origin || fail "the empty cover box was not found in the window (frame unknown)"
log "client area at +$frame_x+$frame_y of the frame"

# click_client X Y [REPEAT]: clicks at client coordinates of the window.
click_client() {
  # Without --sync: it waits for a motion, and there is none when the
  # pointer already rests there (a second click on the same box).
  xdotool mousemove $((win_x + frame_x + $1)) $((win_y + frame_y + $2)) &&
    sleep 0.3 &&
    xdotool click --repeat "${3:-1}" --delay 120 1
}

# --- 主页按钮: the shell opens the explore address -----------------------------
step="clicking 主页按钮"
click_client "${home_centre[@]}" || fail "xdotool could not click"
home_opened() { grep -qxF "$explore_address" "$work/browser-opened.txt" 2>/dev/null; }
poll 30 home_opened ||
  fail "the shell did not open $explore_address (the stand-in saw: $(cat "$work/browser-opened.txt" 2>/dev/null))"
log "主页按钮 opened $explore_address"

# put_on_clipboard TEXT: the X clipboard (which is Wine's) holds TEXT.
put_on_clipboard() {
  if [ -n "$clip_pid" ]; then kill "$clip_pid" 2>/dev/null; fi
  printf '%s' "$1" | xclip -quiet -selection clipboard -i >/dev/null 2>&1 &
  clip_pid=$!
  clipboard_holds() { [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
  poll 10 clipboard_holds "$1"
}
message_boxes() { xdotool search --all --onlyvisible --pid "$app_pid" --name '信息：' 2>/dev/null; }

# --- A failed analysis: its box is owned by the window ----------------------------
# While the box is open the window takes no input: a second double click
# must not start a second analysis (and a second box) inside the first.
step="putting a missing page's address on the clipboard"
put_on_clipboard "${book_url%index.html}missing.html" || fail "the X clipboard does not hold the address"
step="double-clicking 书籍地址框 for a missing page"
click_client "${url_box_centre[@]}" 2 || fail "xdotool could not click"
one_box() { [ "$(message_boxes | wc -l)" -eq 1 ]; }
poll 30 one_box || fail "no failure box after analysing a missing page"
failure_box=$(message_boxes)
log "failure box $failure_box shown"
step="double-clicking 书籍地址框 behind the failure box"
click_client "${url_box_centre[@]}" 2 || fail "xdotool could not click"
sleep 3
[ "$(message_boxes | wc -l)" -eq 1 ] ||
  fail "a second analysis ran behind the failure box ($(message_boxes | wc -l) boxes open)"
step="closing the failure box"
timeout 5 xdotool windowfocus --sync "$failure_box" 2>/dev/null
xdotool key Return
log "Return sent to the failure box"
no_box() { [ -z "$(message_boxes)" ]; }
poll 10 no_box || fail "the failure box does not close"
log "failure box owned by the window: a second double click started nothing"

# --- Analysis: clipboard, double click, title folder, cover --------------------
step="putting the book address on the clipboard"
put_on_clipboard "$book_url" || fail "the X clipboard does not hold the book address"
log "book address on the clipboard"

step="double-clicking 书籍地址框"
click_client "${url_box_centre[@]}" 2 || fail "xdotool could not click"
folder="$work/program/$title"
step="waiting for the title folder"
poll 60 test -d "$folder" ||
  fail "no folder '$title' beside the program 60 s after the double click (found: $(ls "$work/program"))"
log "analysis done: folder '$title' created"

# cover_in FILE: the window picture in FILE shows a picture in the cover box
# (an empty box is one flat colour).
cover_in() {
  local n
  n=$(colours "$1" $((frame_x + cover_box[0] + 4)) $((frame_y + cover_box[1] + 4)) \
    $((cover_box[2] - 8)) $((cover_box[3] - 8)))
  [ -n "$n" ] && [ "$n" -gt 16 ]
}
cover_shown() { window_shot "$app_window" "$1" && cover_in "$1"; }
step="checking the cover"
if [ -n "$webp" ]; then
  window_shot "$app_window" "$work/window-analysed.png" || fail "window screenshot failed"
else
  poll 30 cover_shown "$work/window-analysed.png" || fail "the cover box still looks empty"
fi
# The title box, flat grey until then, now holds text.
step="checking the title box"
title_colours=$(colours "$work/window-analysed.png" $((frame_x + title_box[0] + 3)) \
  $((frame_y + title_box[1] + 3)) $((title_box[2] - 6)) $((title_box[3] - 6)))
[ "${title_colours:-0}" -gt 2 ] || fail "the title box is empty after the analysis"
analysed="$work/window-analysed.png"
bar_right_before=$(mean_colour "$analysed" $((frame_x + bar_box[0] + bar_box[2] - 16)) \
  $((frame_y + bar_box[1] + 10)) 8 12)
log "cover and title shown"

# --- Download: 按钮2, the completion box, the pages ------------------------------
step="clicking 按钮2"
click_client "${button_centre[@]}" || fail "xdotool could not click"
message_window=
find_message() {
  message_window=$(xdotool search --all --onlyvisible --pid "$app_pid" --name '信息：' 2>/dev/null | head -n 1)
  [ -n "$message_window" ]
}
step="waiting for the completion box"
poll 120 find_message || fail "no box titled 信息： within 120 s of the click ($(find "$folder" -type f | wc -l) files saved)"
log "completion box $message_window shown"

# The box paints a moment after it maps: wait until its picture shows more
# than a blank or black square.
message_painted() {
  window_shot "$message_window" "$work/message.png" || return 1
  local n
  n=$(colours "$work/message.png" 0 0 10000 10000)
  [ -n "$n" ] && [ "$n" -gt 8 ] && ! near "$(mean_colour "$work/message.png" 0 0 10000 10000)" 000000
}
step="waiting for the completion box to paint"
poll 15 message_painted || fail "the completion box did not paint within 15 s"
sleep 0.5
screen_shot "$artifacts/$run_name-message.png" || fail "screenshot failed"

step="comparing the pages with the site"
for n in $(seq 1 "$pages"); do
  [ -f "$folder/$n.$ext" ] || fail "page $n.$ext is missing"
  curl "${cacert[@]}" "${referer[@]}" -fsS --max-time 20 -o "$work/served-$n.$ext" "$image_base$n.$ext" ||
    fail "the site did not serve page $n"
  cmp -s "$folder/$n.$ext" "$work/served-$n.$ext" ||
    fail "page $n.$ext ($(stat -c %s "$folder/$n.$ext") bytes) differs from what the site serves ($(stat -c %s "$work/served-$n.$ext") bytes)"
done
for file in "$folder"/*; do
  name=${file##*/}
  if ! [[ $name =~ ^([1-9][0-9]*)\.$ext$ ]] || [ "${BASH_REMATCH[1]}" -gt "$pages" ]; then
    fail "unexpected file in the book folder: $name"
  fi
done
log "$pages pages on disk, identical to the site's"

# --- Closing the box, the finished window ----------------------------------------
message_gone() { ! xdotool search --all --onlyvisible --pid "$app_pid" --name '信息：' >/dev/null 2>&1; }
step="closing the completion box"
xdotool windowfocus --sync "$message_window" 2>/dev/null
xdotool key Return
if ! poll 5 message_gone; then
  # Return did not reach it: the OK button sits centred near the bottom.
  log "Return did not close the box; clicking its OK button"
  eval "$(xdotool getwindowgeometry --shell "$message_window")"
  xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 27)) click 1
  poll 10 message_gone ||
    fail "the completion box does not close"
fi
log "completion box closed"

# After the box has gone the window repaints what it covered; the right end
# of the bar must have changed from its empty look to the filled look of
# its left end.
bar_full() {
  window_shot "$app_window" "$work/window-done.png" || return 1
  local left right
  left=$(mean_colour "$work/window-done.png" $((frame_x + bar_box[0] + 8)) $((frame_y + bar_box[1] + 10)) 8 12)
  right=$(mean_colour "$work/window-done.png" $((frame_x + bar_box[0] + bar_box[2] - 16)) \
    $((frame_y + bar_box[1] + 10)) 8 12)
  near "$left" "$right" && ! near "$right" "$bar_right_before"
}
step="checking the full progress bar"
poll 15 bar_full || fail "the progress bar is not full after the download"
[ -n "$webp" ] || cover_in "$work/window-done.png" || fail "the cover is gone after the download"
cp "$work/window-done.png" "$artifacts/$run_name.png" || fail "cannot keep the screenshot"
log "window with cover and full bar: $artifacts/$run_name.png"

# --- Closing the window during a download ------------------------------------------
# ASCII: the Windows site's command line reaches it in the system's code page.
slow_title='Slow book'
slow_pages=40
if [ -n "$close_mid_download" ]; then
  step="starting a slow site"
  mkfifo "$work/slow-input" || fail "mkfifo failed"
  # About 2 s a page: several pages are always in flight.
  "$build/wine-run" "$site_exe" --pages "$slow_pages" --size 120000 --rate 60000 --title "$slow_title" \
    --until-stdin-closes <"$work/slow-input" >"$work/slow.out" 2>"$work/slow.err" &
  slow_pid=$!
  exec 4>"$work/slow-input"
  poll 60 grep -q '^http' "$work/slow.out" || fail "the slow site printed no address: $(cat "$work/slow.err")"
  slow_url=$(head -n 1 "$work/slow.out" | tr -d '\r')
  put_on_clipboard "$slow_url" || fail "the X clipboard does not hold the slow book's address"
  click_client "${url_box_centre[@]}" 2 || fail "xdotool could not click"
  slow_folder="$work/program/$slow_title"
  poll 60 test -d "$slow_folder" || fail "no folder '$slow_title' after analysing the slow book"
  # The cover is shown once the analysis is done; then the download starts.
  sleep 1
  click_client "${button_centre[@]}" || fail "xdotool could not click"
  some_pages() { [ "$(find "$slow_folder" -maxdepth 1 -name '[1-9]*.jpg' | wc -l)" -ge 3 ]; }
  step="waiting for the slow book's first pages"
  poll 60 some_pages || fail "no pages of the slow book within 60 s"
  log "closing the window with $(find "$slow_folder" -maxdepth 1 -type f | wc -l) files in the slow book's folder"
fi

# --- Closing the window -----------------------------------------------------------
step="closing the window"
# The close box sits at the right end of the title bar.
xdotool mousemove --sync $((win_x + win_w - frame_x - 10)) $((win_y + frame_x + (frame_y - frame_x) / 2 - 1)) &&
  sleep 0.2 && xdotool click 1
app_ended() { ! running "$app_pid"; }
poll 30 app_ended || fail "folivex.exe still runs 30 s after its close box was clicked"
wait "$app_pid"
code=$?
app_pid=
[ "$code" -eq 0 ] || fail "folivex.exe exited with code $code"
log "folivex.exe exited with code 0"

if [ -n "$close_mid_download" ]; then
  # The pages in flight were abandoned: no temporary, only whole pages, each
  # what the site serves, and fewer than the book has.
  step="checking the slow book's folder"
  slow_base=${slow_url%index.html}files/mobile/
  kept=()
  while IFS= read -r file; do
    name=${file##*/}
    [ "$name" = .folivex-book ] && continue
    [[ $name =~ ^([1-9][0-9]*)\.jpg$ ]] || fail "left in the book folder after closing: $name"
    kept+=("$name")
  done < <(find "$slow_folder" -mindepth 1 -maxdepth 1)
  # The site paces every answer: fetch the pages at once.
  mkdir -p "$work/slow-served"
  fetches=()
  for name in "${kept[@]}"; do
    curl -fsS --max-time 60 -o "$work/slow-served/$name" "$slow_base$name" &
    fetches+=($!)
  done
  # Only the fetches: the sites and the clipboard run on in the background.
  wait "${fetches[@]}"
  for name in "${kept[@]}"; do
    cmp -s "$slow_folder/$name" "$work/slow-served/$name" || fail "$name is not the whole page the site serves"
  done
  whole=${#kept[@]}
  [ "$whole" -lt "$slow_pages" ] || fail "the whole book came before the window closed; nothing was in flight"
  log "after closing mid-download: $whole whole pages, nothing else"
fi
echo "$run_name: passed"
