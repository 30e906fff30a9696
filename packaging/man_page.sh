#!/usr/bin/env bash
# Writes one program's manual page, gzipped, from its --help and --version
# under the given locale (the Russian page from the Russian catalogue); for
# a program with commands, each command's --help is a section of its own.
# usage: man_page.sh OUTPUT.1.gz LOCALE PROGRAM VERSION "NAME LINE" [COMMAND ...]
set -euo pipefail
output=$1 locale=$2 program=$3 version=$4 name=$5
shift 5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The name line goes through the include file, which help2man decodes in
# the page's locale (an argument it would not). A command's help follows as
# preformatted text: roff reads a backslash or a leading dot or quote as
# markup.
# The section is known by its name in the page's language.
heading=$(LC_ALL=$locale LANGUAGE= TEXTDOMAIN=help2man gettext NAME)
{
  printf '[%s]\n%s \\- %s\n' "$heading" "$(basename "$program")" "$name"
  for command in "$@"; do
    printf '[%s %s]\n.nf\n' "$(basename "$program")" "$command"
    LC_ALL=$locale LANGUAGE= "$program" "$command" --help |
      sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
    printf '.fi\n'
  done
} >"$work/include"
# The version is given rather than read: --version names the build folder,
# which has no place in an installed page.
help2man --no-info --no-discard-stderr --locale="$locale" --section=1 \
  --source=Tomebox --version-string="$version" --include="$work/include" \
  --output="$work/page.1" "$program"
gzip -9n <"$work/page.1" >"$output"
