#!/usr/bin/env bash
# Checks the man pages: they render without a warning, zelagent(8) names
# every option of the command line's table and the README's exit statuses,
# and zelagent.conf(5) every configuration key of the README. Exits 77
# (skipped) where groff is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v groff >/dev/null; then
  echo "man page check skipped: groff is not installed (Debian package groff-base)"
  exit 77
fi
failed=0
fail() { echo "$*"; failed=1; }

for page in docs/man/*.[0-9]; do
  warnings=$(groff -ww -man -z "$page" 2>&1 || true)
  [ -z "$warnings" ] || fail "$page: $warnings"
done

# Option names and aliases, as the table in agent/CommandLine.cpp spells them.
source_text=$(sed 's/\\-/-/g' docs/man/zelagent.8)
options=$(sed -n '/kOptions\[\] = {/,/^};/p' agent/CommandLine.cpp | grep -o '{"[^"]*", \("[^"]*"\|nullptr\)' |
          sed 's/{"\([^"]*\)", "\{0,1\}\([^"]*\)"\{0,1\}/\1 \2/; s/ nullptr$//')
for option in $options; do
  grep -Eq -- "(^|[^a-z0-9_-])${option}([^a-z0-9_-]|$)" <<<"$source_text" || fail "zelagent.8 does not name $option"
done

# The exit statuses: the rows of the README's table, the tags of the page's section.
readme_statuses=$(sed -n '/^Exit statuses:/,/^## /p' README.md | grep -o '^| [0-9]\+ |' | tr -dc '0-9\n' | sort -n)
page_statuses=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' docs/man/zelagent.8 | grep -A1 '^\.TP' | grep -o '^\.B [0-9]\+$' |
                tr -dc '0-9\n' | sort -n)
[ "$readme_statuses" = "$page_statuses" ] ||
  fail "exit statuses differ: README $(echo $readme_statuses), zelagent.8 $(echo $page_statuses)"

# Configuration keys: the first column of the README's table.
keys=$(sed -n '/^## Configuration keys/,/^## /p' README.md | grep -o '^| `[^|]*|' | grep -o '`[a-z_]*`' | tr -d '`')
for key in $keys; do
  grep -q "^\.B $key\$" docs/man/zelagent.conf.5 || fail "zelagent.conf.5 does not describe $key"
done

[ $failed -eq 0 ] && echo "man pages: $(ls docs/man/*.[0-9] | wc -l) pages, $(wc -w <<<"$options") options, $(wc -w <<<"$keys") keys checked"
exit $failed
