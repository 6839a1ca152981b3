#!/usr/bin/env bash
# The update server under load, against a static file server as the yardstick.
#
#   server/bench/server_load.sh BUILD_DIR [SECONDS] [CLIENTS]
#
# Makes 5,000 circulars (PDF-like files of 2-60 KB), starts legisdisco-update-server on
# them (loopback, free port, no request log) and runs bench-serverload: CLIENTS (200)
# clients for SECONDS (30), each asking for random sets of 1-20 circulars and fetching the
# answer page and the package. Then it builds 2,000 such packages, serves them with
# `python3 -m http.server` and loads that the same way. For each it prints requests per
# second, p50/p99 latency, errors and the server's peak memory (VmHWM). Bounded in time.
set -euo pipefail

BUILD_DIR="$(cd "${1:?usage: server_load.sh BUILD_DIR [SECONDS] [CLIENTS]}" && pwd)"
SECONDS_RUN="${2:-30}"
CLIENTS="${3:-200}"
SERVER="$BUILD_DIR/server/legisdisco-update-server"
LOAD="$BUILD_DIR/server/bench/bench-serverload"
WORK="$(mktemp -d)"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 1 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }
peak_kib() { sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$1/status"; }

mkdir -p "$WORK/circulares" "$WORK/static"
python3 - "$WORK/circulares" <<'PY'
import os, random, sys
random.seed(5)
folder = sys.argv[1]
for n in range(1, 5001):
    size = random.randint(2 * 1024, 60 * 1024)
    with open(os.path.join(folder, f"{n}.pdf"), "wb") as f:
        f.write(b"%PDF-1.4\n% circular " + str(n).encode() + b"\n")
        f.write(os.urandom(size))
        f.write(b"\n%%EOF\n")
PY
ulimit -n "$(ulimit -Hn)"

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "Load: $CLIENTS clients for $SECONDS_RUN s, 5,000 circulars, random sets of 1-20"

port="$(free_port)"
"$SERVER" --circulars "$WORK/circulares" --port "$port" --cache "$WORK/cache" --quiet ${SERVER_ARGS:-} \
    >"$WORK/server.log" 2>&1 &
PIDS+=($!)
server_pid=$!
wait_port "$port"
printf 'update server:  '
"$LOAD" update "$port" "$SECONDS_RUN" "$CLIENTS" 5000
echo "  peak memory $(( $(peak_kib "$server_pid") / 1024 )) MiB, packages kept $(find "$WORK/cache" -name '*.zip' | wc -l)"

# The yardstick: the same kind of packages, prebuilt, from a static file server.
python3 - "$port" "$WORK/static" <<'PY'
import random, sys, urllib.request, urllib.parse, http.client
port, folder = int(sys.argv[1]), sys.argv[2]
random.seed(9)
conn = http.client.HTTPConnection("127.0.0.1", port)
names = []
for i in range(2000):
    ids = ",".join(str(random.randint(1, 5000)) for _ in range(random.randint(1, 20)))
    conn.request("GET", "/Normativa/archivoValores.asp?Numeros=" + ids); r = conn.getresponse(); r.read()
    conn.request("GET", "/Normativa/" + r.getheader("Location")); r = conn.getresponse(); page = r.read().decode()
    link = page.split('href="', 1)[1].split('"', 1)[0]
    conn.request("GET", "/Normativa/" + link); r = conn.getresponse(); data = r.read()
    name = f"p{i}.zip"
    open(f"{folder}/{name}", "wb").write(data)
    names.append("/" + name)
open(f"{folder}/../static.list", "w").write("\n".join(names) + "\n")
PY
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true

port="$(free_port)"
(cd "$WORK/static" && exec python3 -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
PIDS+=($!)
static_pid=$!
wait_port "$port"
printf 'static server:  '
"$LOAD" static "$port" "$SECONDS_RUN" "$CLIENTS" "$WORK/static.list"
echo "  peak memory $(( $(peak_kib "$static_pid") / 1024 )) MiB"
