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

# run_once NAME COMMAND... : appends "ms kb" to $work/NAME.
run_once() {
    local name="$1" line
    shift
    line="$(timeout 120 "$@" 2>>"$work/$name.log" | grep -m1 '^startup_ms=' || true)"
    if [ -z "$line" ]; then
        log "$name printed no measurement; its messages:"
        tail -20 "$work/$name.log" >&2
        exit 1
    fi
    line="${line#startup_ms=}"
    echo "${line% rss_kb=*} ${line#* rss_kb=}" >>"$work/$name"
}

# Without the check for new circulars, which would only add a request to a server that is
# not there.
run_viewer() { LEGISDISCO_STARTUP_PROBE=1 run_once viewer "$viewer" --no-update-check; }
run_bare() { run_once bare "$bare" "$work/program"; }

log "Start-up: $runs runs of each program, alternating, on the $display"
run_viewer
run_bare
: >"$work/viewer"
: >"$work/bare"
for _ in $(seq 1 "$runs"); do
    run_viewer
    run_bare
done

# median FILE COLUMN
median() {
    cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

viewer_ms="$(median "$work/viewer" 1)"
viewer_kb="$(median "$work/viewer" 2)"
bare_ms="$(median "$work/bare" 1)"
bare_kb="$(median "$work/bare" 2)"

echo
echo "Start-up to the home page, median of $runs runs each ($display):"
echo
echo "| Program | Time to first page (ms) | Resident memory then (MiB) |"
echo "|---|---:|---:|"
awk -v vm="$viewer_ms" -v vk="$viewer_kb" -v bm="$bare_ms" -v bk="$bare_kb" 'BEGIN {
    printf "| legisdisco (DocumentComplete) | %d | %.1f |\n", vm, vk / 1024
    printf "| bench-bare-webview (loadFinished) | %d | %.1f |\n", bm, bk / 1024
    printf "| ratio legisdisco / bare | %.3f | %.3f |\n", vm / bm, vk / bk
}'
echo
echo "Every run (ms, KiB): legisdisco: $(tr '\n' ';' <"$work/viewer" | sed 's/;$//;s/;/; /g')"
echo "                     bare:       $(tr '\n' ';' <"$work/bare" | sed 's/;$//;s/;/; /g')"
awk -v vm="$viewer_ms" -v bm="$bare_ms" 'BEGIN {
    r = vm / bm
    printf "\nTime ratio %.3f: %s the goal of 1.10 or less\n", r, (r <= 1.10 ? "meets" : "misses")
}'
