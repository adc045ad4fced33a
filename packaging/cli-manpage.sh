#!/usr/bin/env bash
# Writes the gzipped man page of segwork-cli from the program's own --help texts, so the page
# cannot drift from the options: the top-level help becomes SYNOPSIS and OPTIONS, every command's
# help a subsection of COMMANDS.
# Usage: cli-manpage.sh SEGWORK_CLI OUTPUT.1.gz
set -euo pipefail
cli=$1
out=$2
version=$("$cli" --version)
version=${version#segwork-cli }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# help2man turns one command's help into roff; keep its description and option list only.
command_section() {
  local command=$1
  echo ".SS \"segwork-cli $command\""
  help2man --no-info --version-string="$version" --help-option="$command --help" "$cli" |
    sed -n '/^\.SH DESCRIPTION/,$p' | sed '/^\.SH /d' | split_run_in_options
}

# CLI11 leaves a single space after an option whose name fills the column, which help2man takes for
# a run-in paragraph (.HP); split it into a tagged one like the others. Arguments are upper case,
# descriptions lower case.
split_run_in_options() {
  sed -E '/^\.HP$/{N;s/^\.HP\n(\\fB[^ ]+\\fR( [A-Z][^ ]*)?) (.*)$/.TP\n\1\n\3/}'
}

{
  echo '[NAME]'
  echo 'segwork-cli \- the segregation model without windows: runs, benchmarks and sweeps'
  echo '[COMMANDS]'
  for command in run bench "sweep parameter" "sweep growth" "sweep streets"; do
    command_section "$command"
  done
  echo '[EXIT STATUS]'
  echo '0 on success, non-zero on a usage error or a failed run; messages go to standard error.'
  echo '[SEE ALSO]'
  echo '.BR segwork (1)'
} >"$work/include"

help2man --no-info --include="$work/include" "$cli" | split_run_in_options >"$work/segwork-cli.1"
gzip -9n -c "$work/segwork-cli.1" >"$out"
