#!/usr/bin/env bash
# Installing an update package against plain `unzip -o` of the same file, same disk, and
# what checking the publisher's signed catalog adds to an install.
#
#   bench/install.sh BUILD_DIR [RUNS]
#
# Makes a package of 1,000 circulars (about 200 MB, incompressible PDF bodies, deflated as
# the update server packs them) in a scratch folder beside the build, with the catalog of
# its circulars signed by a key made for the run (minisign), then times, RUNS times each
# (default 5) and alternating, into a new empty folder each time:
#   - `legisdisco --collection FRESH --install-package P` where FRESH has no publisher's
#     key (nothing is checked beyond the package's shape),
#   - the same where FRESH holds the key (the signature, the catalog and every file's
#     SHA-256 and size are checked),
#   - `unzip -o -q P -d FRESH`.
# Prints each run, the medians, the install against unzip and the share of the signed
# install that the check takes.
set -euo pipefail

BUILD_DIR="$(cd "${1:?usage: bench/install.sh BUILD_DIR [RUNS]}" && pwd)"
RUNS="${2:-5}"
PROGRAM="$BUILD_DIR/bin/legisdisco"
SCRATCH="$BUILD_DIR/bench-install"
rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"
trap 'rm -rf "$SCRATCH"' EXIT

minisign -G -W -p "$SCRATCH/editor.pub" -s "$SCRATCH/editor.key" >/dev/null
python3 - "$SCRATCH" <<'PY'
import datetime, hashlib, os, subprocess, sys, zipfile
scratch = sys.argv[1]
bodies = {}
for n in range(1000):
    bodies[5000 + n] = b"%PDF-1.4\n% circular " + str(5000 + n).encode() + b"\n" + os.urandom(200 * 1024)
valid = (datetime.date.today() + datetime.timedelta(days=30)).isoformat()
lines = ["catalogo-legisdisco 1", "secuencia\t1", "vigente-hasta\t" + valid]
for number, body in bodies.items():
    lines.append("circular\t%d\t2024-01-01\t%s\t%d\t\t\tCircular %d"
                 % (number, hashlib.sha256(body).hexdigest(), len(body), number))
catalog = os.path.join(scratch, "catalogo.txt")
with open(catalog, "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
subprocess.run(["minisign", "-S", "-s", os.path.join(scratch, "editor.key"), "-m", catalog],
               check=True, stdout=subprocess.DEVNULL)
with zipfile.ZipFile(os.path.join(scratch, "paquete.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for number, body in bodies.items():
        z.writestr("circulares/%d.pdf" % number, body)
    z.write(catalog, "catalogo.txt")
    z.write(catalog + ".minisig", "catalogo.txt.minisig")
PY
ls -l "$SCRATCH/paquete.zip" | awk '{ printf "package: %.1f MB\n", $5 / 1e6 }'

now_ms() { date +%s%N | cut -c1-13; }
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

installs=()
signeds=()
unzips=()
for run in $(seq 1 "$RUNS"); do
    rm -rf "$SCRATCH/a" "$SCRATCH/b" "$SCRATCH/s" && mkdir -p "$SCRATCH/a" "$SCRATCH/b" "$SCRATCH/s"
    cp "$SCRATCH/editor.pub" "$SCRATCH/s/legisdis.pub"
    sync
    start=$(now_ms)
    "$PROGRAM" --collection "$SCRATCH/a" --install-package "$SCRATCH/paquete.zip" >/dev/null
    installs+=($(($(now_ms) - start)))
    sync
    start=$(now_ms)
    "$PROGRAM" --collection "$SCRATCH/s" --install-package "$SCRATCH/paquete.zip" >/dev/null
    signeds+=($(($(now_ms) - start)))
    sync
    start=$(now_ms)
    unzip -o -q "$SCRATCH/paquete.zip" -d "$SCRATCH/b"
    unzips+=($(($(now_ms) - start)))
    echo "run $run: install ${installs[-1]} ms, signed install ${signeds[-1]} ms," \
        "unzip ${unzips[-1]} ms"
done
diff -r "$SCRATCH/a/circulares" "$SCRATCH/b/circulares" >/dev/null &&
    diff -r "$SCRATCH/s/circulares" "$SCRATCH/b/circulares" >/dev/null && echo "same files"
install_median=$(printf '%s\n' "${installs[@]}" | median)
signed_median=$(printf '%s\n' "${signeds[@]}" | median)
unzip_median=$(printf '%s\n' "${unzips[@]}" | median)
echo "median: install ${install_median} ms, signed install ${signed_median} ms," \
    "unzip ${unzip_median} ms"
echo "install / unzip $(awk -v a="$install_median" -v b="$unzip_median" 'BEGIN { printf "%.2f", a / b }')," \
    "signed install / unzip $(awk -v a="$signed_median" -v b="$unzip_median" 'BEGIN { printf "%.2f", a / b }')," \
    "check's share of the signed install $(awk -v s="$signed_median" -v a="$install_median" 'BEGIN { printf "%.1f%%", 100 * (s - a) / s }')"
