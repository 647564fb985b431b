#!/usr/bin/env bash
# folivex-dl.exe under Wine against the HTTPS sample site (built for the
# host, as the Windows build has no TLS server), with certificates issued by
# the build tree's test authority, which wine-start.sh made the prefix trust
# as a root. Each case first asks Windows' own chain check (folivex-cert-tool
# check: the chain WinInet builds on Windows, revocation checked at the
# certificate's distribution point) and then runs the download.
#   dl_https_e2e.sh BUILD_DIR FOLIVEX_DL_EXE CERT_TOOL_EXE HOST_SITE
set -u

build=$1
dl_exe=$2
cert_tool=$3
host_site=$4
work="$build/dl-https-e2e"
pages=4
title='春天的画册'
failures=0

say() { printf '%s\n' "$*"; }
fail() {
  say "FAILED: $*"
  failures=$((failures + 1))
}

# shellcheck source=/dev/null
. "$build/wine-env.sh"
rm -rf "$work"
mkdir -p "$work" || exit 1

site_pid=
stop_site() {
  if [ -n "$site_pid" ]; then
    exec 3>&-
    for _ in $(seq 1 50); do kill -0 "$site_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$site_pid" 2>/dev/null
    wait "$site_pid" 2>/dev/null
    site_pid=
  fi
}
trap stop_site EXIT

# start_site NAME OPTIONS...: the host's HTTPS sample site; sets book_url,
# port and leaves the server's certificate in $work/NAME-server.pem.
start_site() {
  local name=$1
  shift
  rm -f "$work/$name-input"
  mkfifo "$work/$name-input" || return 1
  "$host_site" --pages "$pages" --size 30000 --until-stdin-closes "$@" \
    <"$work/$name-input" >"$work/$name-site.out" 2>"$work/$name-site.err" &
  site_pid=$!
  exec 3>"$work/$name-input"
  for _ in $(seq 1 100); do grep -q '^https' "$work/$name-site.out" && break; sleep 0.1; done
  book_url=$(head -n 1 "$work/$name-site.out")
  [ -n "$book_url" ] || { say "the site printed no address: $(cat "$work/$name-site.err")"; return 1; }
  port=${book_url#https://127.0.0.1:}
  port=${port%%/*}
  openssl s_client -connect "127.0.0.1:$port" -servername localhost </dev/null 2>/dev/null |
    openssl x509 >"$work/$name-server.pem" 2>/dev/null
}

# windows_verdict NAME: what Windows' chain check says of the certificate.
windows_verdict() {
  "$FOLIVEX_WINE" "$cert_tool" check "$(winepath -w "$work/$1-server.pem" 2>/dev/null)" 2>/dev/null | tr -d '\r'
}

# download NAME: runs folivex-dl.exe into $work/NAME-out; sets dl_status.
download() {
  mkdir -p "$work/$1-out"
  "$FOLIVEX_WINE" "$dl_exe" -q --retries 1 --timeout 20 -o "$(winepath -w "$work/$1-out" 2>/dev/null)" \
    "$book_url" >"$work/$1-dl.out" 2>&1
  dl_status=$?
}

# pages_match NAME CA_FILE: every page on disk is what the site serves.
pages_match() {
  local n
  for n in $(seq 1 "$pages"); do
    curl -fsS --cacert "$2" -o "$work/$1-served-$n.jpg" "${book_url%index.html}files/mobile/$n.jpg" || return 1
    cmp -s "$work/$1-out/$title/$n.jpg" "$work/$1-served-$n.jpg" || return 1
  done
}

ca="$build/test-ca/ca.pem"
[ -f "$ca" ] || { say "no test authority in $build/test-ca: wine-start.sh has not run"; exit 1; }

# case NAME SITE_OPTIONS VERDICT DOWNLOADS WHY
run_case() {
  local name=$1 options=$2 verdict=$3 downloads=$4 why=$5 got
  say "--- $name: $why"
  # shellcheck disable=SC2086
  start_site "$name" $options || { fail "$name: the site did not start"; return; }
  got=$(windows_verdict "$name")
  [ "$got" = "$verdict" ] || fail "$name: Windows' chain check says '$got', expected '$verdict'"
  download "$name"
  if [ "$downloads" = yes ]; then
    [ "$dl_status" -eq 0 ] || fail "$name: folivex-dl.exe exited with $dl_status: $(cat "$work/$name-dl.out")"
    pages_match "$name" "${ca_for_case:-$ca}" || fail "$name: the pages on disk differ from the site's"
  else
    [ "$dl_status" -eq 1 ] || fail "$name: folivex-dl.exe exited with $dl_status, expected 1"
    [ -z "$(find "$work/$name-out" -type f)" ] || fail "$name: files were written: $(find "$work/$name-out" -type f)"
  fi
  stop_site
  say "    chain check: $got, folivex-dl.exe exit $dl_status"
}

run_case trusted "--tls $build/test-ca" good yes \
  "a certificate of the trusted test root, its revocation list served at its distribution point"
# Windows' WinInet checks revocation (with the default "check for server
# certificate revocation") and refuses a revoked certificate; Wine's WinInet
# builds the chain without asking for revocation, so under Wine the download
# goes through. Windows' own chain check above still finds it revoked.
run_case revoked "--tls $build/test-ca --revoked" revoked yes \
  "the revocation list names the certificate: Windows refuses it, Wine's WinInet does not ask"
run_case crl-gone "--tls $build/test-ca --crl-gone" revocation-offline yes \
  "nobody answers at the distribution point: the check cannot tell, WinInet under Wine does not ask"
ca_for_case="$work/other-ca/ca.pem"
run_case untrusted "--tls $work/other-ca" untrusted no \
  "an authority the system was never told to trust: refused"

if [ "$failures" -gt 0 ]; then
  say "dl https e2e: $failures failure(s)"
  exit 1
fi
say "dl https e2e: passed"
