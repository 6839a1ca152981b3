#!/usr/bin/env bash
# CPU per package: the update server against nginx serving the same packages prebuilt, and
# two update servers behind nginx (as load balancer) against one.
#
#   server/bench/server_cpu.sh BUILD_DIR [SECONDS] [CLIENTS] [RUNS]
#
# Makes 5,000 circulars (2-60 KB, as server_load.sh), then, RUNS times (default 3), one
# after another so that the machine's other load falls on each alike:
#   update   one legisdisco-update-server, loaded directly by bench-serverload (random sets
#            of 1-20 circulars: request page, answer page, package);
#   nginx    nginx serving 2,000 such packages, prebuilt, fetched at random;
#   lb-one   nginx as load balancer in front of one update server;
#   lb-two   the same nginx in front of two update servers sharing one cache folder.
#   lb-same  (with BENCH_LB_SAME=1) the balancer of lb-two with both its entries naming ONE
#            update server: the balancer's connections split as for lb-two, one process
#            serving them, which tells the cost of the split from that of a second process.
#   shared   (BENCH_SETS=N, default 2000, as many packages as nginx serves; 0 leaves it
#            out) the update server loaded as in update, but every client draws its set
#            from the same N random sets, as viewers mostly ask for the same newest
#            circulars: a package asked for again is kept in the cache folder and sent
#            from there.
# BENCH_ONLY=update measures the first only (to compare builds of the server).
# BEFORE_SERVER names another build of the server, measured as "before" right after
# "update" in every run, so that the two builds alternate under the same load.
# For each it counts the CPU time (user + system, from /proc) of the serving processes,
# and prints CPU per package and per request; then the ratios update/nginx and
# lb-two/lb-one, with the load average. Needs nginx: installed here when run as root,
# otherwise it says how. Never part of the test suite.
set -euo pipefail

BUILD_DIR="$(cd "${1:?usage: server_cpu.sh BUILD_DIR [SECONDS] [CLIENTS] [RUNS]}" && pwd)"
SECONDS_RUN="${2:-20}"
CLIENTS="${3:-50}"
RUNS="${4:-3}"
unset SETS_ARG # given to one measurement only (see measure)
# UPDATE_SERVER names another build of the server to measure (an older one, say).
SERVER="${UPDATE_SERVER:-$BUILD_DIR/server/legisdisco-update-server}"
LOAD="$BUILD_DIR/server/bench/bench-serverload"

NGINX="$(command -v nginx || true)"
[ -n "$NGINX" ] || [ ! -x /usr/sbin/nginx ] || NGINX=/usr/sbin/nginx
if [ -z "$NGINX" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends nginx-light \
            >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y \
            --no-install-recommends nginx >/dev/null
        NGINX=/usr/sbin/nginx
    else
        echo "nginx is needed: sudo apt-get install -y --no-install-recommends nginx-light" >&2
        exit 1
    fi
fi

WORK="$(mktemp -d)"
chmod 755 "$WORK"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# A server listens once it has read its circulars: some seconds for 5,000 on a busy machine.
wait_port() { for _ in $(seq 1 1200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; echo "nothing listens on port $1" >&2; return 1; }
# CPU time, in clock ticks, of the processes given and their children.
cpu_ticks() {
    local total=0 pid child
    for pid in "$@"; do
        for child in $pid $(pgrep -P "$pid" || true); do
            [ -r "/proc/$child/stat" ] || continue
            total=$((total + $(awk '{ print $14 + $15 }' "/proc/$child/stat")))
        done
    done
    echo "$total"
}
# Runs the load against PORT and prints "packages requests ticks" for the processes given.
measure() {
    local mode="$1" port="$2" arg="$3" before after out
    shift 3
    before="$(cpu_ticks "$@")"
    # shellcheck disable=SC2086 # SETS_ARG is empty or one number
    out="$("$LOAD" "$mode" "$port" "$SECONDS_RUN" "$CLIENTS" "$arg" ${SETS_ARG:-})"
    after="$(cpu_ticks "$@")"
    local requests packages errors
    requests="$(sed -n 's/^requests \([0-9]*\) .*/\1/p' <<<"$out")"
    errors="$(sed -n 's/.*errors \([0-9]*\)$/\1/p' <<<"$out" | head -1)"
    packages="$(sed -n 's/^packages \([0-9]*\)$/\1/p' <<<"$out")"
    [ -n "$packages" ] || packages="$requests"
    echo "$packages $requests $((after - before)) $errors"
}
start_server() { # PORT CACHE
    "$SERVER" --circulars "$WORK/circulares" --port "$1" --cache "$2" --quiet \
        >>"$WORK/server.log" 2>&1 &
    PIDS+=($!)
    wait_port "$1"
    curl -s "http://127.0.0.1:$1/Normativa/actualizacionesValores.asp" >/dev/null || true
}
start_nginx() { # CONFIG
    "$NGINX" -c "$1" -p "$WORK" -g 'daemon off;' 2>>"$WORK/nginx.log" &
    PIDS+=($!)
}
stop() { kill "$1"; wait "$1" 2>/dev/null || true; }

mkdir -p "$WORK/circulares" "$WORK/static" "$WORK/logs"
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

# The prebuilt packages, as the update server makes them.
port="$(free_port)"
start_server "$port" "$WORK/cache-prebuild"
python3 - "$port" "$WORK/static" <<'PY'
import random, sys, http.client
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
    open(f"{folder}/p{i}.zip", "wb").write(data)
    names.append(f"/p{i}.zip")
open(f"{folder}/../static.list", "w").write("\n".join(names) + "\n")
PY
stop "${PIDS[-1]}"

common='worker_processes 1; error_log logs/error.log; pid logs/nginx.pid;
events { worker_connections 4096; }'
static_port="$(free_port)"
cat >"$WORK/static.conf" <<CONF
$common
http {
    access_log off; sendfile on; tcp_nopush on; keepalive_requests 100000;
    default_type application/zip;
    server { listen 127.0.0.1:$static_port; root $WORK/static; }
}
CONF
lb_port="$(free_port)"
a_port="$(free_port)"
b_port="$(free_port)"
lb_conf() { # CONFIG SERVERS...
    local config="$1" servers="" p
    shift
    for p in "$@"; do servers+="server 127.0.0.1:$p; "; done
    cat >"$config" <<CONF
$common
http {
    access_log off; keepalive_requests 100000;
    upstream update { $servers keepalive 128; }
    server {
        listen 127.0.0.1:$lb_port;
        location / {
            proxy_pass http://update; proxy_http_version 1.1;
            proxy_set_header Connection ""; proxy_buffering off;
        }
    }
}
CONF
}
lb_conf "$WORK/lb-one.conf" "$a_port"
lb_conf "$WORK/lb-two.conf" "$a_port" "$b_port"
lb_conf "$WORK/lb-same.conf" "$a_port" "$a_port"

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "Load: $CLIENTS clients for $SECONDS_RUN s a run, 5,000 circulars, random sets of 1-20; $RUNS runs"
ticks="$(getconf CLK_TCK)"
report() { # NAME "packages requests ticks errors" LOAD
    read -r packages requests used errors <<<"$2"
    awk -v n="$1" -v p="$packages" -v r="$requests" -v t="$used" -v hz="$ticks" -v e="$errors" -v l="$3" \
        'BEGIN { printf "  %-7s packages %7d  requests %7d  errors %s  CPU %6.2f s  per package %6.1f us  per request %6.1f us  load %s\n", n, p, r, e, t / hz, 1e6 * t / hz / p, 1e6 * t / hz / r, l }'
}
per_package() { awk -v s="$1" 'BEGIN { split(s, f, " "); print f[3] / f[1] }'; }
per_request() { awk -v s="$1" 'BEGIN { split(s, f, " "); print f[3] / f[2] }'; }

# Measures update servers, one on each PORT, sharing one cache folder behind nginx as load
# balancer with CONFIG; reports them as NAME and leaves the figures in $result.
behind_balancer() { # NAME CONFIG PORT...
    local name="$1" config="$2" port pid n load servers=()
    shift 2
    rm -rf "$WORK/cache" && mkdir -p "$WORK/cache"
    for port in "$@"; do
        start_server "$port" "$WORK/cache"
        servers+=("${PIDS[-1]}")
    done
    start_nginx "$config"
    n="${PIDS[-1]}"
    wait_port "$lb_port"
    load="$(cut -d' ' -f1 /proc/loadavg)"
    result="$(measure update "$lb_port" 5000 "${servers[@]}")"
    report "$name" "$result" "$load"
    stop "$n"
    for pid in "${servers[@]}"; do stop "$pid"; done
}

for run in $(seq 1 "$RUNS"); do
    echo "Run $run: $(uptime)"
    rm -rf "$WORK/cache" && mkdir -p "$WORK/cache"

    start_server "$a_port" "$WORK/cache"
    a="${PIDS[-1]}"
    load="$(cut -d' ' -f1 /proc/loadavg)"
    update="$(measure update "$a_port" 5000 "$a")"
    report update "$update" "$load"
    stop "$a"
    if [ -n "${BEFORE_SERVER:-}" ]; then
        rm -rf "$WORK/cache" && mkdir -p "$WORK/cache"
        SERVER="$BEFORE_SERVER" start_server "$a_port" "$WORK/cache"
        a="${PIDS[-1]}"
        load="$(cut -d' ' -f1 /proc/loadavg)"
        before="$(measure update "$a_port" 5000 "$a")"
        report before "$before" "$load"
        stop "$a"
    fi
    [ "${BENCH_ONLY:-}" != update ] || continue
    if [ "${BENCH_SETS:-2000}" != 0 ]; then
        rm -rf "$WORK/cache" && mkdir -p "$WORK/cache"
        start_server "$a_port" "$WORK/cache"
        a="${PIDS[-1]}"
        load="$(cut -d' ' -f1 /proc/loadavg)"
        shared="$(SETS_ARG="${BENCH_SETS:-2000}" measure update "$a_port" 5000 "$a")"
        report shared "$shared" "$load"
        stop "$a"
    fi

    start_nginx "$WORK/static.conf"
    n="${PIDS[-1]}"
    wait_port "$static_port"
    load="$(cut -d' ' -f1 /proc/loadavg)"
    static="$(measure static "$static_port" "$WORK/static.list" "$n")"
    report nginx "$static" "$load"
    stop "$n"

    behind_balancer lb-one "$WORK/lb-one.conf" "$a_port"
    one="$result"
    behind_balancer lb-two "$WORK/lb-two.conf" "$a_port" "$b_port"
    two="$result"
    if [ "${BENCH_LB_SAME:-}" = 1 ]; then
        behind_balancer lb-same "$WORK/lb-same.conf" "$a_port"
        same="$result"
    fi

    awk -v u="$(per_package "$update")" -v s="$(per_package "$static")" \
        -v o="$(per_request "$one")" -v t="$(per_request "$two")" \
        'BEGIN { printf "  ratios: update/nginx per package %.2f   two/one behind nginx per request %.2f\n", u / s, t / o }'
    [ "${BENCH_SETS:-2000}" = 0 ] || awk -v u="$(per_package "$shared")" -v s="$(per_package "$static")" \
        'BEGIN { printf "  shared sets: update/nginx per package %.2f\n", u / s }'
    [ "${BENCH_LB_SAME:-}" != 1 ] || awk -v o="$(per_request "$one")" -v t="$(per_request "$two")" \
        -v m="$(per_request "$same")" \
        'BEGIN { printf "  split: same server twice/one per request %.2f   two/same server twice %.2f\n", m / o, t / m }'
    [ -z "${BEFORE_SERVER:-}" ] || awk -v u="$(per_package "$update")" -v b="$(per_package "$before")" \
        -v s="$(per_package "$static")" \
        'BEGIN { printf "  before: before/nginx per package %.2f   update/before %.2f\n", b / s, u / b }'
done
