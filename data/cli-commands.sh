#!/bin/sh
# cli-commands.sh PALKOR_CLI OUT: a help2man include file whose COMMANDS section holds the
# help of every command that `PALKOR_CLI --help` lists, as the program prints it.
set -eu
cli=$1 out=$2
commands=$("$cli" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || { echo "$cli --help lists no commands" >&2; exit 1; }
{
  echo '[COMMANDS]'
  for command in $commands; do
    printf '.SS %s\n.nf\n' "$command"
    # Verbatim in roff: backslashes escaped, no line taken for a request.
    "$cli" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/" -e 's/-/\\-/g'
    printf '.fi\n'
  done
} > "$out.new"
mv "$out.new" "$out"
