#!/usr/bin/env bash
# The search benchmark: indexes a generated collection and times it against
# pdftotext (reading the same PDFs once) and pdfgrep (searching them without an
# index), in the same run.
#
#   bench/search.sh BUILD_DIR [CIRCULARS] [PAGES] [HTMLPAGES]
#
# Defaults: 2000 circulars of 10 pages and 300 HTML pages, written to a
# temporary folder that is removed at the end (about 30 MB of PDFs and 200 MB of
# indexes). BENCH_SEARCH_ROUNDS (default 3) sets how often pdftotext and the full
# index run, alternately; BENCH_SEARCH_GENERATOR=--qpdfwriter writes the PDFs
# with QPdfWriter instead.
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
"$GEN" ${BENCH_SEARCH_GENERATOR:-} "$COLLECTION" "$CIRCULARS" "$PAGES" "$HTMLPAGES"
echo "generated in $(elapsed_ms "$start") ms, $(du -sh "$COLLECTION" | cut -f1)"

# Both read from the page cache: one untimed pass first.
cat "$COLLECTION"/circulares/*.pdf >/dev/null

# pdftotext and the full index alternate, ROUNDS times each, so that both see the
# same load; each line gives the wall time and the CPU time (user + system).
ROUNDS="${BENCH_SEARCH_ROUNDS:-3}"
for round in $(seq 1 "$ROUNDS"); do
    echo "== Round $round: pdftotext over every circular, one process per file as it runs"
    start=$(seconds)
    /usr/bin/time -f "pdftotext cpu: %U user %S sys" \
        sh -c "find '$COLLECTION/circulares' -name '*.pdf' -print0 |
               xargs -0 -I{} pdftotext -q {} /dev/null"
    echo "pdftotext: $(elapsed_ms "$start") ms"

    echo "== Round $round: full index (every circular and page, from nothing)"
    rm -rf "$INDEX"
    /usr/bin/time -f "index cpu: %U user %S sys" "$SEARCH" index "$COLLECTION" "$INDEX"
done

echo "== Incremental index after 10 new circulars"
"$GEN" ${BENCH_SEARCH_GENERATOR:-} "$COLLECTION" 10 "$PAGES" 0 9001 >/dev/null
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Up-to-date pass (nothing changed)"
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Queries through the index"
"$SEARCH" query "$COLLECTION" "$INDEX"

echo "== The same collection and queries in SQLite FTS5"
/usr/bin/time -f "fts5 cpu: %U user %S sys" "$SEARCH" fts5 "$COLLECTION" "$WORK/fts5.db"

echo "== pdfgrep -ri over the same folder, for comparison"
for query in tokenizados "hecho esencial"; do
    start=$(seconds)
    count=$(pdfgrep -ri "$query" "$COLLECTION/circulares" | wc -l || true)
    echo "pdfgrep -ri '$query': $(elapsed_ms "$start") ms, $count lines"
done
