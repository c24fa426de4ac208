#!/usr/bin/env bash
# Checks that the compiled manual documents the whole language and both
# front ends: every directive, symbol and qfc option, and every message the
# engine and the window can show. Messages and options are taken from the
# sources and from `qfc --help`, so a new one fails here until it is written up.
# Usage: check_manual.sh MANUAL_HTML QFC SOURCE_ROOT
set -euo pipefail
manual=$1 qfc=$2 root=$3

# The manual writes '_' in symbol names as '&#95;' so that they are not
# replaced; compare against the text a reader sees.
text=$(sed -e 's/&#95;/_/g' -e 's/<[^>]*>//g' -e 's/&lt;/</g' -e 's/&gt;/>/g' \
           -e 's/&quot;/"/g' -e 's/&nbsp;/ /g' -e 's/&amp;/\&/g' "$manual")
missing=0
need() {
  if ! grep -qF -- "$1" <<<"$text"; then
    echo "manual lacks: $1"
    missing=1
  fi
}

for directive in ifdef ifndef ifexists else endif include fileinfo define undefine killdefine; do
  need "#$directive"
done
for symbol in INFILENAME INFILETITLE OUTFILENAME OUTFILETITLE WEEKDAY MONTH DAY YEAR TIME \
              FILENAME FILETITLE FILEW FILEH FILEB FILEK FILEM; do
  need "_${symbol}_"
done

# Engine messages: each string literal that starts with "Error: ", with the
# directive character shown as '#'; a '%s' splits it into pieces.
messages=$(find "$root/engine" -name '*.cpp' ! -name '*_test.cpp' ! -name '*_fixture.cpp' \
             -exec cat {} + | grep -v '^\s*//' |
           grep -oE '"Error: ([^"\\]|\\.)*"' | sed -e 's/^"//' -e 's/"$//' -e 's/\\"/"/g' \
             -e 's/%c/#/g' | sort -u)
[ -n "$messages" ] || { echo "no messages found in $root/engine"; exit 1; }
while IFS= read -r message; do
  while IFS= read -r piece; do
    [ -n "$piece" ] && need "$piece"
  done < <(sed 's/%s/\n/g' <<<"$message")
done <<<"$messages"
need "You haven't specified a directory to search for files!"
need "You must specify an output directory, or turn off that option."
need "Can't find any .src files in directory!"
need "No web browser could be started to show the manual."
need ": link leads outside "
need "; not published"

# Every option of qfc --help, and the exit statuses and failure line.
options=$("$qfc" --help | grep -oE '^ +(-[A-Za-z], )?--[a-z-]+' | grep -oE -- '-{1,2}[A-Za-z-]+')
[ -n "$options" ] || { echo "qfc --help lists no options"; exit 1; }
for option in $options; do
  need "$option"
done
need "FILE:LINE: MESSAGE"
need "warning: broken link"
need "did you mean"
need "no element with id"
need "(included from"
need "broken links."
# What the edit-and-preview loop and --init say.
for line in "(Ctrl-C to stop)" "Stopped." "other pages)" "note: did you mean" \
            "is taken; using port" "--serve=0" "404.html" "Also at " \
            "the date and time symbols hold" "exists and is not empty"; do
  need "$line"
done
need "SOURCE_DATE_EPOCH"
need "Exit status"

# A directive line of the manual's own sources must never reach the page.
if grep -qE '^@' "$manual"; then
  echo "a directive line of the manual's sources was written to the page"
  missing=1
fi
exit $missing
