#!/usr/bin/env bash
# --help and the manual page describe the same program: the options are the same on both
# sides, and every command and every --simulate-fault kind of the manual page is in --help.
#   help_vs_man.sh PROGRAM MANPAGE        (MANPAGE: roff source, possibly .gz or .in)
set -uo pipefail
program=$1
manpage=$2

help=$("$program" --help) || { echo "FAIL: $program --help exited $?"; exit 1; }
if [[ $manpage == *.gz ]]; then
  roff=$(gzip -dc "$manpage") || exit 1
else
  roff=$(cat "$manpage") || exit 1
fi

# The tag lines (those after .TP) of one section, as plain text: no font escapes, \- as -.
section_tags() {
  sed -n "/^\.SH \"\?$1\"\?\$/,/^\.SH /p" <<<"$roff" |
    awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' |
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/"//g' -e 's/^\.[A-Z]* //' -e 's/ *, */, /g'
}

# Options: words starting with - or -- at the start of a tag or after ", ".
man_options=$(section_tags OPTIONS | grep -oE '(^|, )--?[a-z][a-z-]*' | sed 's/^, //' |
  sort -u)
# In --help, the options column: indented lines starting with -, up to two blanks.
help_options=$(grep -E '^[[:space:]]+-' <<<"$help" | sed -E 's/^[[:space:]]+//; s/  .*//' |
  grep -oE '(^|, )--?[a-z][a-z-]*' | sed 's/^, //' | sort -u)

status=0
only_man=$(comm -23 <(echo "$man_options") <(echo "$help_options"))
only_help=$(comm -13 <(echo "$man_options") <(echo "$help_options"))
if [ -n "$only_man" ]; then
  echo "FAIL: in the manual page but not in --help:" "${only_man//$'\n'/ }"
  status=1
fi
if [ -n "$only_help" ]; then
  echo "FAIL: in --help but not in the manual page:" "${only_help//$'\n'/ }"
  status=1
fi

# Commands and fault kinds: the first word of each tag, looked up in --help.
commands=$(section_tags COMMANDS | awk '{ print $1 }')
kinds=$(section_tags OPTIONS | grep -oE '^[a-z][a-z-]*(:|$)' | tr -d ':')
for word in $commands $kinds; do
  if ! grep -qE "(^|[^a-z-])$word([^a-z-]|\$)" <<<"$help"; then
    echo "FAIL: '$word' is in the manual page but not in --help"
    status=1
  fi
done

[ "$status" -eq 0 ] &&
  echo "--help and the manual page agree:" "${man_options//$'\n'/ };" \
    "commands: ${commands//$'\n'/ }; fault kinds: ${kinds//$'\n'/ }"
exit $status
