#!/usr/bin/env bash
# The search benchmark: indexes a generated collection and times it against
# pdftotext (reading the same PDFs once) and pdfgrep (searching them without an
# index), in the same run.
#
#   bench/search.sh BUILD_DIR [CIRCULARS] [PAGES] [HTMLPAGES]
#
# Defaults: 2000 circulars of 10 pages and 300 HTML pages, written to a
# temporary folder that is removed at the end (about 100 MB).
set -euo pipefail

BUILD_DIR="$1"
CIRCULARS="${2:-2000}"
PAGES="${3:-10}"
HTMLPAGES="${4:-300}"
GEN="$BUILD_DIR/bench/bench-gen-collection"
SEARCH="$BUILD_DIR/bench/bench-search"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
COLLECTION="$WORK/coleccion"
INDEX="$WORK/indice"

seconds() { date +%s.%N; }
elapsed_ms() { echo "($(seconds) - $1) * 1000 / 1" | bc; }

echo "== Generating $CIRCULARS circulars of $PAGES pages and $HTMLPAGES pages"
start=$(seconds)
"$GEN" "$COLLECTION" "$CIRCULARS" "$PAGES" "$HTMLPAGES"
echo "generated in $(elapsed_ms "$start") ms, $(du -sh "$COLLECTION" | cut -f1)"

# Both read from the page cache: one untimed pass first.
cat "$COLLECTION"/circulares/*.pdf >/dev/null

echo "== pdftotext over every circular, one process per file as it runs"
start=$(seconds)
find "$COLLECTION/circulares" -name '*.pdf' -print0 | xargs -0 -I{} pdftotext -q {} /dev/null
echo "pdftotext: $(elapsed_ms "$start") ms"

echo "== Full index"
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Incremental index after 10 new circulars"
"$GEN" "$COLLECTION" 10 "$PAGES" 0 9001 >/dev/null
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Up-to-date pass (nothing changed)"
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Queries through the index"
"$SEARCH" query "$COLLECTION" "$INDEX"

echo "== pdfgrep -ri over the same folder, for comparison"
for query in tokenizados "hecho esencial"; do
    start=$(seconds)
    count=$(pdfgrep -ri "$query" "$COLLECTION/circulares" | wc -l || true)
    echo "pdfgrep -ri '$query': $(elapsed_ms "$start") ms, $count lines"
done
