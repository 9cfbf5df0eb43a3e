#!/usr/bin/env bash
# Builds ferrix2, lays out a demo shop directory with a ready ferrix.ini (COPY to a local folder),
# runs the service until the demo files have reached the destination, shows them and the log, and
# stops the service. Everything lives under build/demo-run/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/demo" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/demo" -j "$(nproc)" --target ferrix2

run="$root/build/demo-run"
rm -rf "$run"
mkdir -p "$run/program" "$run/central" "$run/pipes"
shop="$run/shop/Shop12"
mkdir -p "$shop/comptage" "$shop/caisse" "$shop/filters" "$shop/messages" "$shop/footfall"
cp "$root/build/demo/ferrix2" "$run/program/"

# Demo data: a shop's info file, a day's data file and one file per data sub-directory.
printf 'Shop=12\r\nName=Demo shop\r\n' > "$shop/shopinfo.arg"
printf 'date=2026-12-08\r\n' > "$shop/t1208.arg"
printf '08:00;12\r\n09:00;31\r\n' > "$shop/comptage/R1208.COR"
printf 'ticket;1;12.50\r\n' > "$shop/caisse/c1208.txt"
printf 'filter=all\r\n' > "$shop/filters/f1.fif"
printf 'hello central\r\n' > "$shop/messages/m1.msg"
printf '10:00;4\r\n' > "$shop/footfall/ff1208.txt"

cat > "$run/program/ferrix.ini" <<INI
[General]
LogDetailed=1
TimeBetweenActions=60
ExactTimeMode=0
ExactTime=18:00

[Directory0]
TrackDirectory=$shop

[Transport]
Transport=COPY
Destination0=$run/central
DestinationDirectory=central
INI

export NAMEDPIPE_DIR="$run/pipes"
"$run/program/ferrix2" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

# The first check runs 5 seconds after the start; wait for the pass's summary line.
for _ in $(seq 1 300); do
  grep -q "processed .* files OK" "$run/program/ferrix.log" 2>/dev/null && break
  sleep 0.1
done
kill -TERM "$pid"
wait "$pid" || true
trap - EXIT

echo "== files at the destination ($run/central)"
(cd "$run/central" && find . -type f | sort)
echo "== $run/program/ferrix.log"
cat "$run/program/ferrix.log"
