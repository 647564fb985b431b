#!/usr/bin/env bash
# Checks folivex-dl's generated man page and bash completion against the
# program: every option its --help lists is in both, the man page renders
# without warnings and carries the program's version, and the completion
# answers like a shell user expects.
#   docs_test.sh PROGRAM COMPLETION [MANPAGE.gz]
set -u
program=$(realpath "$1")
completion=$(realpath "$2")
man_page=${3:+$(realpath "$3")}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The option names --help lists, one a line, sorted: the long names of the
# option lines and the short ones beside them.
mapfile -t options < <("$program" --help | grep -E '^ +(-[A-Za-z0-9], +)?--[a-z0-9]' |
  sed -E 's/^ +(-([A-Za-z0-9]), +)?(--[a-z0-9-]+).*/\3 -\2/; s/ -$//' | tr ' ' '\n' | sort)
[ ${#options[@]} -ge 4 ] || fail "found only ${#options[@]} options in --help"
version=$("$program" --version) || fail "--version failed"

# --- The completion ------------------------------------------------------------
# shellcheck source=/dev/null
source "$completion" || fail "the completion does not load"
complete -p folivex-dl >/dev/null 2>&1 || fail "the completion is not registered for folivex-dl"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/books" "$scratch/boxes"
touch "$scratch/book.jpg"
cd "$scratch" || exit 1

# complete_words WORD...: what the completion offers for the last word, one a
# line, sorted (the words as bash splits them: "--output=x" is three).
complete_words() {
  COMP_WORDS=(folivex-dl "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _folivex_dl
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

all_options=$(printf '%s\n' "${options[@]}")
cases=(
  # name | words, separated by commas | expected, separated by commas
  "every option after a dash|-|$(printf '%s,' "${options[@]}" | sed 's/,$//')"
  "a long option by its start|--ov|--overwrite"
  "folders after -o, not files|-o,|books,boxes"
  "folders after --output|--output,bo|books,boxes"
  "folders after --output=|--output,=,|books,boxes"
  "folders after --output=bo|--output,=,boo|books"
  "nothing after --threads (a number)|--threads,|"
  # The word after an option that takes a value is that value, dash or not.
  "no options as the value of -j|-j,-|"
  "no options as the value of --title|--title,--|"
  "nothing after --pages|--pages,1|"
  "nothing for an address|--pdf,bo|"
  "options again after a flag|--pdf,--q|--quiet"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name words expected <<<"$row"
  IFS=',' read -r -a word_list <<<"$words"
  # A trailing comma means the last word is empty.
  [[ $words == *, ]] && word_list+=("")
  got=$(complete_words "${word_list[@]}" | paste -sd, -)
  [ "$got" = "$expected" ] || fail "completion, $name: got '$got', expected '$expected'"
done
offered=$(complete_words - | sort)
[ "$offered" = "$all_options" ] || fail "completion offers '$(echo $offered)', --help lists '$(echo $all_options)'"

# --- The man page ---------------------------------------------------------------
if [ -n "$man_page" ] && [ ! -f "$man_page" ]; then
  fail "no man page at $man_page"
elif [ -n "$man_page" ]; then
  rendered=$(MANWIDTH=100 MAN_KEEP_FORMATTING= man --warnings -l "$man_page" 2>"$scratch/man.err" | col -b)
  [ -s "$scratch/man.err" ] && fail "man reports: $(cat "$scratch/man.err")"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS EXAMPLES; do
    grep -q "^$section" <<<"$rendered" || fail "the man page has no $section section"
  done
  for option in "${options[@]}"; do
    grep -qe "$option\b" <<<"$rendered" || fail "the man page does not mention $option"
  done
  grep -qF "$version" <<<"$rendered" || fail "the man page does not carry '$version'"
else
  echo "no man page to check (help2man was not found when this tree was configured)"
fi

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "man page and completion agree with --help (${#options[@]} option names)"
