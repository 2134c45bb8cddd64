#!/usr/bin/env bash
# manpages.sh PROGRAM OUTDIR VERSION: the manual pages of selvo-host, made
# with help2man from the program's own usage texts, so that `man` and
# `--help` cannot tell different stories: selvo-host(1) from `selvo-host
# --help` and selvo-host-COMMAND(1) from `selvo-host COMMAND --help` for
# every command that help lists. packaging/man/NAME.h2m adds sections a
# usage text has no room for. The pages are written gzipped, as Debian
# keeps them.
set -euo pipefail
program=$1 outdir=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The usage texts name the default database under the user's home: the page
# shows it as ~ rather than the home of whoever built it. help2man reads and
# writes UTF-8 only in a UTF-8 locale; C.UTF-8 is on every Debian system.
export HOME='~' LC_ALL=C.UTF-8
unset XDG_DATA_HOME

mapfile -t commands < <("$program" --help | sed -n 's/^  selvo-host \([a-z]*\).*/\1/p')
[ ${#commands[@]} -gt 0 ] || { echo "manpages.sh: $program --help lists no commands" >&2; exit 1; }

page() {  # page NAME INCLUDE: help2man on $work/NAME
	local name=$1 include=$2
	help2man --locale=C.UTF-8 --no-info --section=1 --version-string="$version" \
		--source="selvo $version" --manual="selvo" --include="$include" \
		--output="$work/$name.1" "$work/$name"
	gzip -9n <"$work/$name.1" >"$outdir/$name.1.gz.new"
	mv "$outdir/$name.1.gz.new" "$outdir/$name.1.gz"
}

mkdir -p "$outdir"
rm -f "$outdir"/*.1.gz
see_also=""
for command in "${commands[@]}"; do
	name=selvo-host-$command
	printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$program" "$command" >"$work/$name"
	chmod +x "$work/$name"
	# The command's summary, the line under its synopsis, names the page.
	summary=$("$program" "$command" --help | sed -n '3s/^ *//p')
	{
		printf '[NAME]\n%s \\- %s\n' "$name" "$summary"
		[ ! -f "$here/man/$name.h2m" ] || cat "$here/man/$name.h2m"
		printf '[SEE ALSO]\n.BR selvo-host (1)\n'
	} >"$work/$name.h2m"
	page "$name" "$work/$name.h2m"
	see_also+="${see_also:+,
}.BR $name (1)"
done

printf '#!/bin/sh\nexec "%s" "$@"\n' "$program" >"$work/selvo-host"
chmod +x "$work/selvo-host"
{
	cat "$here/man/selvo-host.h2m"
	printf '[SEE ALSO]\n%s\n' "$see_also"
} >"$work/selvo-host.h2m"
page selvo-host "$work/selvo-host.h2m"
