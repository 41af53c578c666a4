#!/bin/bash
# A stand-in for the conversion engine that honours its command lines and file names
# and can misbehave on request, so the worker's reactions can be tested exactly.
#   FAKE_PAGES   page count (default 4)
#   FAKE_LOG     file that receives one line per run: "<kind> <folder> <resolution>"
#   FAKE_SHORT   folder name whose run reports only half of the pages, then exits
#   FAKE_BURST   folder name whose run writes every page, then all progress lines at once
#   FAKE_DELAY   seconds to sleep before each page (default 0.02, so that each progress
#                line reaches the reader on its own)
#   FAKE_FAIL    folder name whose run writes every page, then reports page 3 broken and
#                exits 1
#   FAKE_WARN    every image run reports page 2 as not fully read (and still succeeds)
pages=${FAKE_PAGES:-4}
res="" dir="" mode=img output_dir="" title="" postfix="" pdf=""
while [ $# -gt 0 ]; do
  case "$1" in
    -r) res=$2; shift ;;
    -d) dir=$2; shift ;;
    -i) mode=info ;;
    -size) mode=size ;;
    -output-dir) mode=search; output_dir=$2; shift ;;
    -title) title=$2; shift ;;
    -postfix) postfix=$2; shift ;;
    -o|-e|-page|-jpeg-quality|-jpeg-smoothing-factor|-page-count) shift ;;
    -*) ;;
    *) pdf=$1 ;;
  esac
  shift
done
log() { [ -n "$FAKE_LOG" ] && echo "$*" >> "$FAKE_LOG"; }
case $mode in
  info)
    log info - "$res"
    printf 'Fake title\n\nfake, tags\nFake description\n%d\n%d\n%d\n' "$pages" 1020 1320 ;;
  size)
    log size - "$res"
    echo $((res * 85 / 10)); echo $((res * 11)) ;;
  search)
    log search - "$res"
    echo "<html>$title</html>" > "$output_dir/text.html"
    echo "window.VELLUMARK_BOOK_TEXT = {};" > "$output_dir/txt.js" ;;
  img)
    # No programs beyond bash itself: a run of 514 jobs starts thousands of these.
    name=${dir%/}
    name=${name##*/}
    # A run with a postfix makes page 1 alone: the cover, the link-preview picture.
    [ -n "$postfix" ] && name=${postfix#-}
    log img "$name" "$res"
    if [ -n "$postfix" ]; then : > "$dir/img-1-e$postfix.jpg"; exit 0; fi
    if [ "$FAKE_BURST" = "$name" ]; then
      lines=""
      for ((i = 1; i <= pages; i++)); do : > "$dir/img-$i.jpg"; : > "$dir/img-$i-f.png"; lines+="PN:$i/$pages"$'\n'; done
      printf '%s' "$lines" >&2
      exit 0
    fi
    [ -n "$FAKE_WARN" ] && echo "rastrix: warning: page 2: some of its content could not be read" >&2
    last=$pages
    [ "$FAKE_SHORT" = "$name" ] && last=$((pages / 2))
    for ((i = 1; i <= last; i++)); do
      [ "${FAKE_DELAY:-0.02}" = 0 ] || sleep "${FAKE_DELAY:-0.02}"
      : > "$dir/img-$i.jpg"; : > "$dir/img-$i-f.png"; : > "$dir/img-$i-e.jpg"
      echo "PN:$i/$pages" >&2
    done
    if [ "$FAKE_FAIL" = "$name" ]; then echo "rastrix: page 3: the page is broken" >&2; exit 1; fi ;;
esac
exit 0
