#!/usr/bin/env bash
# The bash completion of quarnel-fwupdate-cli, run inside bash-completion's own framework on
# a table of command lines (the cursor at the end of each).
#   completion_test.sh COMPLETION_FILE
# Exits 77 (skipped) where bash-completion is not installed.
set -u
framework=/usr/share/bash-completion/bash_completion
if [ ! -r "$framework" ]; then
  echo "skipped: bash-completion is not installed"
  exit 77
fi
# shellcheck source=/dev/null
source "$framework"
# shellcheck source=/dev/null
source "$1"
# Outside a real completion there are no options to set.
compopt() { :; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch unit.bin notes.txt

# Splits LINE into words as bash does for completion (blanks, and = and : as words of their
# own), calls the completion function and prints the candidates sorted, on one line.
complete_line() {
  local line=$1 spaced
  spaced=${line//=/ = }
  read -ra COMP_WORDS <<<"${spaced//:/ : }"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _quarnel_fwupdate_cli quarnel-fwupdate-cli "${COMP_WORDS[COMP_CWORD]}" \
    "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | xargs
}

failures=0
while IFS='|' read -r line expected; do
  [[ -z $line || $line == \#* ]] && continue
  actual=$(complete_line "quarnel-fwupdate-cli $line")
  if [ "$actual" != "$expected" ]; then
    echo "FAIL: '$line': got '$actual', expected '$expected'"
    failures=$((failures + 1))
  fi
done <<'EOF'
# command line after the program's name|candidates
 |backup info list update verify version
ve|verify version
--json ve|verify version
update |
update --q|--quiet
--ima|--image=
--image=u|unit.bin
backup |notes.txt unit.bin
backup --force u|unit.bin
backup unit.bin |
--simulate=70|7029 7030
--simulate-fault=d|delay-from: delay: drop: dup-at: dup:
--device=emulated:20|2004
-- --|
EOF
[ "$failures" -eq 0 ] && echo "all completions as expected"
[ "$failures" -eq 0 ]
