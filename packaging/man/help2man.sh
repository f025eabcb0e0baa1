#!/usr/bin/env bash
# Writes a program's manual page, compressed, from the program's own help: help2man on its
# --help, a COMMANDS section made of the --help of each subcommand that --help lists, and a
# hand-written part (help2man's include format) for what the help does not say. Run by the
# build (cmake/Packaging.cmake) after the program is built.
#
#   packaging/man/help2man.sh PROGRAM VERSION SUMMARY HAND-WRITTEN-PART OUTPUT.1.gz
set -euo pipefail
program=$1
version=$2
summary=$3
part=$4
out=$5
name=$(basename "$program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Run by its name alone, so that the usage lines say "zpictl", not the build's path.
mkdir "$work/bin"
ln -s "$(cd "$(dirname "$program")" && pwd)/$name" "$work/bin/$name"
export PATH="$work/bin:$PATH"

# One subsection per command: its usage as the heading, its description, then each
# positional and option as a tagged paragraph (the help option itself left out).
roff_command() {
  awk '
    function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); return s }
    function flush() {
      if (term != "") { print ".TP"; print (term ~ /^-/ ? "\\fB" esc(term) "\\fR" extra : esc(term)); print esc(text) }
      term = ""; extra = ""; text = ""
    }
    /^Usage: / { flush(); sub(/^Usage: /, ""); heading = $0; print ".SS \"" esc(heading) "\""; if (about != "") print esc(about); next }
    heading == "" { about = about (about == "" ? "" : " ") $0; next }
    /^[A-Z][A-Za-z ]*:$/ { flush(); next }
    /^                    +[^ ]/ { line = $0; sub(/^ +/, "", line); text = text (text == "" ? "" : " ") line; next }
    /^  [^ ]/ {
      flush()
      line = $0; sub(/^  /, "", line)
      if (match(line, /  +/)) { left = substr(line, 1, RSTART - 1); text = substr(line, RSTART + RLENGTH) } else { left = line; text = "" }
      if (left == "-h,--help") { text = ""; next }
      if (left ~ /^-/) { split(left, parts, " "); term = parts[1]; extra = esc(substr(left, length(term) + 1)) }
      else { term = left; extra = "" }
      next
    }
    END { flush() }
  '
}

commands=$("$name" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [a-z]/ { print $1; next } on && !/^ / { on = 0 }')
{
  if [ -n "$commands" ]; then
    echo "[COMMANDS]"
    for command in $commands; do "$name" "$command" --help | roff_command; done
    echo
  fi
  sed -n '/^\[[^]]*\]$/,$p' "$part"  # the part's own notes before its first section stay out
} >"$work/include.h2m"

help2man --no-info --no-discard-stderr --version-string="$version" --name="$summary" \
         --include="$work/include.h2m" --output="$work/$name.1" "$name"
gzip -9n <"$work/$name.1" >"$out"
