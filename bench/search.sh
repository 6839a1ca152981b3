#!/usr/bin/env bash
# The search benchmark: indexes a generated collection and times it against
# pdftotext (reading the same PDFs once) and pdfgrep (searching them without an
# index), in the same run, then times the command line's search, one process per query.
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

echo "== Load average: $(cut -d' ' -f1-3 /proc/loadavg)"
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

echo "== Size of the extracted text (pdftotext, UTF-8) against the index"
text_bytes=$(find "$COLLECTION/circulares" -name '*.pdf' -exec pdftotext -q {} - \; | wc -c)
index_bytes=$(du -sb "$INDEX" | cut -f1)
awk -v t="$text_bytes" -v i="$index_bytes" 'BEGIN {
    printf "text %.1f MB, index %.1f MB: %.2f times the text\n", t / 1e6, i / 1e6, i / t }'

echo "== Incremental index after 10 new circulars"
"$GEN" ${BENCH_SEARCH_GENERATOR:-} "$COLLECTION" 10 "$PAGES" 0 9001 >/dev/null
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Up-to-date pass (nothing changed)"
"$SEARCH" index "$COLLECTION" "$INDEX"

echo "== Queries through the index"
"$SEARCH" query "$COLLECTION" "$INDEX"

# The command line as a script runs it: a whole process per query, on the program's own
# index of the collection (in a private cache folder, built first by the command itself).
VIEWER="$BUILD_DIR/bin/legisdisco"
export XDG_CACHE_HOME="$WORK/cache" XDG_DATA_HOME="$WORK/data" XDG_CONFIG_HOME="$WORK/config"
echo "== legisdisco --search: building its index"
# grep reads every line: cut short by grep -q, the command would end on a broken pipe, which
# pipefail takes for the end of the loop.
while "$VIEWER" --collection "$COLLECTION" --search custodia 2>&1 >/dev/null |
    grep incompleto >/dev/null; do :; done
echo "== legisdisco --search: 20 queries x 5, one process each, best 20 hits (the default)"
: >"$WORK/command-times"
for round in 1 2 3 4 5; do
    for query in custodia regulacion tokenizado criptoactivos '"hecho esencial"' \
        'artículo 15' 4321 'sostenibilidad fondos' ciberseguridad 'fintech riesgo' taxonomia \
        blockchain 'auditoria externa' inversionista '"gestión de riesgos"' 'sanciones multa' \
        'pólizas seguros' comisión 5999 'derivados compensación'; do
        start=$(date +%s%N)
        "$VIEWER" --collection "$COLLECTION" --search "$query" >/dev/null 2>&1
        echo $((($(date +%s%N) - start) / 1000)) >>"$WORK/command-times"
    done
done
sort -n "$WORK/command-times" | awk '{ v[NR] = $1 } END {
    printf "legisdisco --search: %d processes, p50 %.1f ms, p95 %.1f ms, max %.1f ms\n",
        NR, v[int(NR * 0.5) + 1] / 1000, v[int(NR * 0.95) + 1] / 1000, v[NR] / 1000 }'
start=$(date +%s%N)
lines=$("$VIEWER" --collection "$COLLECTION" --search custodia --limit 0 2>/dev/null | wc -l)
echo "legisdisco --search custodia --limit 0: $lines lines in $((($(date +%s%N) - start) / 1000000)) ms"

echo "== The same collection and queries in SQLite FTS5"
/usr/bin/time -f "fts5 cpu: %U user %S sys" "$SEARCH" fts5 "$COLLECTION" "$WORK/fts5.db"

echo "== pdfgrep -ri over the same folder, for comparison"
for query in tokenizados "hecho esencial"; do
    start=$(seconds)
    count=$(pdfgrep -ri "$query" "$COLLECTION/circulares" | wc -l || true)
    echo "pdfgrep -ri '$query': $(elapsed_ms "$start") ms, $count lines"
done
