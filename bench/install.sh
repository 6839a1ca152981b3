#!/usr/bin/env bash
# Installing an update package against plain `unzip -o` of the same file, same disk.
#
#   bench/install.sh BUILD_DIR [RUNS]
#
# Makes a package of 1,000 circulars (about 200 MB, incompressible PDF bodies, deflated as
# the update server packs them) in a scratch folder beside the build, then times, RUNS times
# each (default 5) and alternating, `legisdisco --collection FRESH --install-package P` and
# `unzip -o -q P -d FRESH` into a new empty folder. Prints each run and the medians.
set -euo pipefail

BUILD_DIR="$(cd "${1:?usage: bench/install.sh BUILD_DIR [RUNS]}" && pwd)"
RUNS="${2:-5}"
PROGRAM="$BUILD_DIR/bin/legisdisco"
SCRATCH="$BUILD_DIR/bench-install"
rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"
trap 'rm -rf "$SCRATCH"' EXIT

python3 - "$SCRATCH/paquete.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for n in range(1000):
        body = b"%PDF-1.4\n% circular " + str(5000 + n).encode() + b"\n" + os.urandom(200 * 1024)
        z.writestr("circulares/%d.pdf" % (5000 + n), body)
PY
ls -l "$SCRATCH/paquete.zip" | awk '{ printf "package: %.1f MB\n", $5 / 1e6 }'

now_ms() { date +%s%N | cut -c1-13; }
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

installs=()
unzips=()
for run in $(seq 1 "$RUNS"); do
    rm -rf "$SCRATCH/a" "$SCRATCH/b" && mkdir -p "$SCRATCH/a" "$SCRATCH/b"
    sync
    start=$(now_ms)
    "$PROGRAM" --collection "$SCRATCH/a" --install-package "$SCRATCH/paquete.zip" >/dev/null
    installs+=($(($(now_ms) - start)))
    sync
    start=$(now_ms)
    unzip -o -q "$SCRATCH/paquete.zip" -d "$SCRATCH/b"
    unzips+=($(($(now_ms) - start)))
    echo "run $run: install ${installs[-1]} ms, unzip ${unzips[-1]} ms"
done
diff -r "$SCRATCH/a/circulares" "$SCRATCH/b/circulares" >/dev/null && echo "same files"
install_median=$(printf '%s\n' "${installs[@]}" | median)
unzip_median=$(printf '%s\n' "${unzips[@]}" | median)
echo "median: install ${install_median} ms, unzip ${unzip_median} ms," \
    "ratio $(awk -v a="$install_median" -v b="$unzip_median" 'BEGIN { printf "%.2f", a / b }')"
