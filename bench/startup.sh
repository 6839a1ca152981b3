#!/usr/bin/env bash
# Start-up benchmark: Legisdisco against a bare QWebEngineView program showing the
# same home page, run alternately in the same session.
#
#   bench/startup.sh BUILD_DIR [RUNS]
#
# BUILD_DIR holds bin/legisdisco with the demo collection and
# bench/bench-bare-webview. Each program prints, when its first page has loaded,
# the milliseconds since its process started and its resident memory (VmRSS of
# the main process; the browser engine's helper processes are not counted). The
# viewer does so at the main browser's first DocumentComplete when
# LEGISDISCO_STARTUP_PROBE is set.
#
# The viewer runs on a copy of the program folder whose settings have the user
# data filled in and the first-run prompt off, so that no modal form stands
# between start and home page. Both programs get the same fresh configuration,
# cache and runtime folders and no proxy variables. One run of each is made
# first and discarded (disk cache, font cache), then RUNS (default 10) of each,
# alternating.
#
# Display: a private Xvfb screen (the default), or Qt's offscreen platform with
# BENCH_QPA=offscreen.
#
# BENCH_CIRCULARS=N adds a third program to the alternation: the viewer on a copy of
# the program folder with N more circulars (bench-gen-collection, 2 pages each), so that
# the start with the demo's few circulars and with N can be compared run by run. Its
# index is cold (removed before each run) unless BENCH_INDEX=warm, which builds it once
# first. The CPU time (user + system of the process and the helpers it waited for) is
# recorded beside the time of each run.
set -euo pipefail

# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

build_dir="$(cd "${1:?usage: bench/startup.sh BUILD_DIR [RUNS]}" && pwd)"
runs="${2:-10}"
viewer="$build_dir/bin/legisdisco"
bare="$build_dir/bench/bench-bare-webview"
for program in "$viewer" "$bare"; do
    if [ ! -x "$program" ]; then
        log "Missing $program: build the target \"benchmarks\" first"
        exit 1
    fi
done

work="$(mktemp -d)"
cleanup() {
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

# The program folder, copied, with settings that open no form at start-up.
mkdir -p "$work/program"
cp -a "$build_dir/bin/." "$work/program/"
rm -f "$work/program"/*.lock "$work/program"/.*.lock 2>/dev/null || true
sed -i -e 's/^name=.*/name=Ana/' -e 's/^lastname=.*/lastname=Torres/' \
    -e 's/^email=.*/email=ana@example.org/' -e 's/^job=.*/job=Analista/' \
    -e 's/^show=.*/show=0/' "$work/program/legisdis.ini"
viewer="$work/program/legisdisco"
circulars="${BENCH_CIRCULARS:-0}"
if [ "$circulars" -gt 0 ]; then
    cp -a "$work/program" "$work/program-large"
    "$build_dir/bench/bench-gen-collection" "$work/program-large" "$circulars" 2 0 5001
    large="$work/program-large/legisdisco"
fi

mkdir -p "$work/config" "$work/cache" "$work/data" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/runtime"
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy \
    HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY QTWEBENGINE_CHROMIUM_FLAGS
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi

if [ "${BENCH_QPA:-xvfb}" = offscreen ]; then
    export QT_QPA_PLATFORM=offscreen
    display="Qt offscreen platform"
else
    unset QT_QPA_PLATFORM
    start_xvfb 1280x800x24 >/dev/null 2>&1 || start_xvfb 1280x800x24
    display="Xvfb 1280x800x24"
fi

# run_once NAME COMMAND... : appends "ms kb cpu_ms" to $work/NAME.
run_once() {
    local name="$1" line cpu
    shift
    line="$(timeout 120 /usr/bin/time -f '%U %S' -o "$work/time" "$@" 2>>"$work/$name.log" |
        grep -m1 '^startup_ms=' || true)"
    if [ -z "$line" ]; then
        log "$name printed no measurement; its messages:"
        tail -20 "$work/$name.log" >&2
        exit 1
    fi
    cpu="$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/time")"
    line="${line#startup_ms=}"
    echo "${line% rss_kb=*} ${line#* rss_kb=} $cpu" >>"$work/$name"
}

# Without the check for new circulars, which would only add a request to a server that is
# not there.
run_viewer() { LEGISDISCO_STARTUP_PROBE=1 run_once viewer "$viewer" --no-update-check; }
run_bare() { run_once bare "$bare" "$work/program"; }
run_large() {
    if [ "${BENCH_INDEX:-cold}" != warm ]; then
        rm -rf "$work/cache/Legisdisco"
    fi
    LEGISDISCO_STARTUP_PROBE=1 run_once large "$large"
}

if [ "$circulars" -gt 0 ] && [ "${BENCH_INDEX:-cold}" = warm ]; then
    log "Indexing the $circulars circulars once (warm index)"
    while "$large" --search custodia --limit 1 2>&1 >/dev/null | grep incompleto >/dev/null; do :; done
fi

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
log "Start-up: $runs runs of each program, alternating, on the $display"
run_viewer
run_bare
[ "$circulars" -gt 0 ] && run_large
: >"$work/viewer"
: >"$work/bare"
: >"$work/large"
for _ in $(seq 1 "$runs"); do
    run_viewer
    run_bare
    if [ "$circulars" -gt 0 ]; then
        run_large
    fi
done

# median FILE COLUMN
median() {
    cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

viewer_ms="$(median "$work/viewer" 1)"
viewer_kb="$(median "$work/viewer" 2)"
viewer_cpu="$(median "$work/viewer" 3)"
bare_ms="$(median "$work/bare" 1)"
bare_kb="$(median "$work/bare" 2)"
bare_cpu="$(median "$work/bare" 3)"

echo
echo "Start-up to the home page, median of $runs runs each ($display):"
echo
echo "Load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| Program | Time to first page (ms) | Resident memory then (MiB) | CPU (ms) |"
echo "|---|---:|---:|---:|"
awk -v vm="$viewer_ms" -v vk="$viewer_kb" -v vc="$viewer_cpu" -v bm="$bare_ms" \
    -v bk="$bare_kb" -v bc="$bare_cpu" 'BEGIN {
    printf "| legisdisco (DocumentComplete) | %d | %.1f | %d |\n", vm, vk / 1024, vc
    printf "| bench-bare-webview (loadFinished) | %d | %.1f | %d |\n", bm, bk / 1024, bc
    printf "| ratio legisdisco / bare | %.3f | %.3f | %.3f |\n", vm / bm, vk / bk, vc / bc
}'
if [ "$circulars" -gt 0 ]; then
    large_ms="$(median "$work/large" 1)"
    large_kb="$(median "$work/large" 2)"
    large_cpu="$(median "$work/large" 3)"
    awk -v lm="$large_ms" -v lk="$large_kb" -v lc="$large_cpu" -v vm="$viewer_ms" \
        -v vk="$viewer_kb" -v vc="$viewer_cpu" -v n="$circulars" \
        -v idx="${BENCH_INDEX:-cold}" 'BEGIN {
        printf "| legisdisco, %d more circulars, %s index | %d | %.1f | %d |\n", n, idx, lm,
            lk / 1024, lc
        printf "| ratio %d more / demo | %.3f | %.3f | %.3f |\n", n, lm / vm, lk / vk, lc / vc
    }'
    echo
    echo "Every run with $circulars more circulars (ms, KiB, CPU ms): $(tr '\n' ';' <"$work/large" |
        sed 's/;$//;s/;/; /g')"
fi
echo
echo "Every run (ms, KiB): legisdisco: $(tr '\n' ';' <"$work/viewer" | sed 's/;$//;s/;/; /g')"
echo "                     bare:       $(tr '\n' ';' <"$work/bare" | sed 's/;$//;s/;/; /g')"
awk -v vm="$viewer_ms" -v bm="$bare_ms" 'BEGIN {
    r = vm / bm
    printf "\nTime ratio %.3f: %s the goal of 1.10 or less\n", r, (r <= 1.10 ? "meets" : "misses")
}'
