#!/usr/bin/env bash
# Checks the packages scripts/package made, as a user would meet them:
#   the checksums; the zip's files, the version records of its programs,
#   folivex-dl.exe --version and the window starting and closing under Wine
#   (with the windows build tree's prefix and display); the .deb's metadata,
#   file list and lintian's verdict; the .deb installed by dpkg into a
#   temporary root, where folivex-dl --version runs, man renders the page and
#   bash loads the completion; the tarball holding the .deb's files.
#   check_packages.sh DIST VERSION ARCH       (from the top of the source tree)
set -u
dist=$1
version=$2
arch=$3
build_windows=$PWD/build/windows
zip_name=folivex-$version-win64
deb=$dist/folivex-dl_${version}_$arch.deb
tar_name=folivex-dl-$version-linux-$arch
window_title='Folivex 图书杂志下载@By：1.01'

failures=0
fail() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "  ok: $*"; }

scratch=$(mktemp -d)
app_pid=
wine_started=0
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; fi
  if [ $wine_started -eq 1 ]; then sh cmake/wine-stop.sh "$build_windows"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# poll SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds.
poll() {
  local deadline=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# version_record EXE: the file version of a Windows program's version
# record, as four dotted numbers: VS_FIXEDFILEINFO (signature FEEF04BD)
# follows the record's key "VS_VERSION_INFO" in UTF-16.
version_record() {
  local key signature
  key=$(LC_ALL=C grep -obUaP 'V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O\x00' "$1" |
    head -n 1 | cut -d: -f1)
  [ -n "$key" ] || return 1
  signature=$(tail -c +$((key + 1)) "$1" | head -c 256 | LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' |
    head -n 1 | cut -d: -f1)
  [ -n "$signature" ] || return 1
  # dwFileVersionMS, dwFileVersionLS as little-endian 16-bit halves: minor,
  # major, tweak, patch.
  od -An -tu2 -j $((key + signature + 8)) -N 8 "$1" | awk '{print $2 "." $1 "." $4 "." $3}'
}

echo "--- checksums"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) && ok "SHA256SUMS matches" || fail "SHA256SUMS does not match"
listed=$(cut -d' ' -f3 "$dist/SHA256SUMS" | sort | paste -sd' ')
expected="$tar_name.tar.gz $zip_name.zip ${deb##*/}"
[ "$listed" = "$(tr ' ' '\n' <<<"$expected" | sort | paste -sd' ')" ] ||
  fail "SHA256SUMS lists '$listed', not '$expected'"

echo "--- $zip_name.zip"
files=$(unzip -Z1 "$dist/$zip_name.zip" | grep -v '/$' | sort | paste -sd' ')
want="$zip_name/LICENSE.txt $zip_name/README.txt $zip_name/folivex-dl.exe $zip_name/folivex.exe"
[ "$files" = "$want" ] && ok "files: $files" || fail "the zip holds '$files', not '$want'"
unzip -q "$dist/$zip_name.zip" -d "$scratch/zip" || fail "unzip failed"
program_dir=$scratch/zip/$zip_name
for exe in folivex.exe folivex-dl.exe; do
  record=$(version_record "$program_dir/$exe" 2>/dev/null)
  [ "$record" = "$version" ] && ok "$exe version record $record" ||
    fail "$exe's version record says '$record', not $version"
done
grep -qs "$version" "$program_dir/README.txt" || fail "README.txt does not name version $version"
grep -qs "MIT License" "$program_dir/LICENSE.txt" || fail "LICENSE.txt is not the licence"

if [ ! -f "$program_dir/folivex.exe" ] || [ ! -f "$program_dir/folivex-dl.exe" ]; then
  fail "the programs are not in $zip_name/: not run under Wine"
elif [ ! -f "$build_windows/wine-env.sh" ]; then
  fail "no Windows build tree with Wine at $build_windows"
elif ! sh cmake/wine-start.sh "$build_windows"; then
  fail "Wine did not start: $(tail -n 5 "$build_windows/wine_start.log")"
else
  wine_started=1
  said=$("$build_windows/wine-run" "$program_dir/folivex-dl.exe" --version 2>&1 | tr -d '\r')
  [ "$said" = "folivex-dl $version" ] && ok "folivex-dl.exe --version under Wine: $said" ||
    fail "folivex-dl.exe --version under Wine said '$said'"

  # The window: it appears with its title, and Alt+F4 (WM_CLOSE) ends the
  # program with exit code 0.
  DISPLAY=$(. "$build_windows/wine-env.sh" && echo "$DISPLAY")
  export DISPLAY
  "$build_windows/wine-run" "$program_dir/folivex.exe" >"$scratch/folivex.log" 2>&1 &
  app_pid=$!
  window=
  find_window() {
    window=$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Folivex' 2>/dev/null | head -n 1)
    [ -n "$window" ]
  }
  if ! poll 60 find_window; then
    fail "folivex.exe showed no window within 60 s"
  else
    title=$(xdotool getwindowname "$window")
    [ "$title" = "$window_title" ] && ok "folivex.exe window: $title" ||
      fail "the window is titled '$title', not '$window_title'"
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers alt+F4
    ended() { ! kill -0 "$app_pid" 2>/dev/null || [ "$(ps -o stat= -p "$app_pid")" = Z ]; }
    if poll 30 ended; then
      wait "$app_pid"
      code=$?
      app_pid=
      [ $code -eq 0 ] && ok "the window closed, exit code 0" || fail "folivex.exe exited with code $code"
    else
      fail "folivex.exe still runs 30 s after Alt+F4"
    fi
  fi
fi

echo "--- ${deb##*/}"
info=$(dpkg-deb --field "$deb") || fail "dpkg-deb cannot read the package"
field() { sed -n "s/^$1: //p" <<<"$info"; }
before=$failures
[ "$(field Package)" = folivex-dl ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for dependency in libc6 libcurl4 libstdc++6; do
  [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]] ||
    fail "Depends lacks $dependency: '$depends'"
done
[ $failures -eq $before ] && ok "control: folivex-dl $(field Version) $(field Architecture), Depends: $depends"
# File list: each file with its mode and owner.
contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $1, $2, $NF}')
want_contents="-rwxr-xr-x root/root ./usr/bin/folivex-dl
-rw-r--r-- root/root ./usr/share/bash-completion/completions/folivex-dl
-rw-r--r-- root/root ./usr/share/doc/folivex-dl/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/folivex-dl/copyright
-rw-r--r-- root/root ./usr/share/man/man1/folivex-dl.1.gz"
[ "$contents" = "$want_contents" ] && ok "contents: $(wc -l <<<"$contents") files, modes and owners right" ||
  fail "contents differ: $(diff <(echo "$want_contents") <(echo "$contents") | grep '^[<>]' | paste -sd' ')"
if lintian --version >/dev/null 2>&1; then
  if lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1; then
    ok "lintian: no errors or warnings"
  else
    fail "lintian: $(grep -E '^[EW]:' "$scratch/lintian.log" | paste -sd' ')"
  fi
else
  echo "  (lintian does not run here: not checked)"
fi

# Installed by dpkg into an empty root of its own (the libraries it depends
# on are this machine's, outside that root's own package list).
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
if dpkg --root="$root" --force-depends --force-not-root -i "$deb" >"$scratch/dpkg.log" 2>&1; then
  ok "installed into a temporary root"
  said=$("$root/usr/bin/folivex-dl" --version 2>&1)
  [ "$said" = "folivex-dl $version" ] && ok "folivex-dl --version: $said" || fail "folivex-dl --version said '$said'"
  page=$root/usr/share/man/man1/folivex-dl.1.gz
  rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$scratch/man.err" | col -b)
  if [ -s "$scratch/man.err" ]; then
    fail "man -l: $(cat "$scratch/man.err")"
  elif grep -q '^NAME' <<<"$rendered" && grep -qF "folivex-dl $version" <<<"$rendered"; then
    ok "man -l renders the page ($(wc -l <<<"$rendered") lines)"
  else
    fail "man -l renders no page of folivex-dl $version"
  fi
  bash -c 'source "$1" && complete -p folivex-dl' _ "$root/usr/share/bash-completion/completions/folivex-dl" \
    >/dev/null 2>&1 && ok "bash loads the completion" || fail "bash does not load the completion"
  zcat "$root/usr/share/doc/folivex-dl/changelog.gz" | head -n 1 | grep -qF "($version)" ||
    fail "the changelog's newest entry is not $version"
else
  fail "dpkg could not install the package: $(tail -n 5 "$scratch/dpkg.log")"
fi

echo "--- $tar_name.tar.gz"
mkdir -p "$scratch/tar"
tar -xzf "$dist/$tar_name.tar.gz" -C "$scratch/tar" || fail "tar cannot unpack it"
# The same files as the .deb, byte for byte, under the tarball's own prefix.
deb_sums=$(cd "$root/usr" 2>/dev/null && find . -type f | LC_ALL=C sort | xargs -r sha256sum)
tar_sums=$(cd "$scratch/tar/$tar_name" 2>/dev/null && find . -type f | LC_ALL=C sort | xargs -r sha256sum)
[ -n "$tar_sums" ] && [ "$deb_sums" = "$tar_sums" ] && ok "the .deb's $(wc -l <<<"$tar_sums") files under $tar_name/" ||
  fail "the tarball's files differ from the .deb's: $(diff <(echo "$deb_sums") <(echo "$tar_sums") | grep '^[<>]' | paste -sd' ')"

if [ $failures -gt 0 ]; then
  echo "packages: $failures check(s) failed"
  exit 1
fi
echo "packages: every check passed"
