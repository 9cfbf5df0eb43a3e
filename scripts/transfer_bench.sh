#!/usr/bin/env bash
# Transfer benchmark: 2,000 changed files of 4 KiB (400 in each data sub-directory of one shop)
# sent by one ferrix2 pass, against the same tree sent by lftp's "mirror -R" to the same loopback
# FTP server (passive mode; pyftpdlib, and vsftpd when installed), and against cp -r (COPY). The
# ferrix2 time is the elapsed time of its pass summary line; the others are wall times. Median of
# five rounds each. Then COPY alone against cp -r on larger files: 200 files of 1 MiB and one file
# of 200 MiB. vsftpd runs on a free loopback port with a configuration of its own (anonymous
# uploads into a directory of the benchmark) and is stopped at the end. lftp does not retry: a
# failed round ends the benchmark instead of waiting for ever.
#   scripts/transfer_bench.sh [build directory, default build/release] [all | copy | ftp]
# "copy" runs the COPY rounds only (every size against cp -r), "ftp" the FTP rounds only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/release}"
parts="${2:-all}"
rounds=5
copy_rounds=9  # the COPY rounds are short and the disk noisy: more of them
per_dir=400
subdirs=(comptage caisse filters messages footfall)

# FERRIX2_BIN names another ferrix2 program to measure (an earlier build, say) instead of building one.
program="${FERRIX2_BIN:-$build/ferrix2}"
if [ -z "${FERRIX2_BIN:-}" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 3 --target ferrix2 >/dev/null
fi

work="$(mktemp -d)"
server_pid=""
vsftpd_pid=""
ferrix_pid=""
cleanup() {
  [ -n "$ferrix_pid" ] && kill "$ferrix_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$vsftpd_pid" ] && kill "$vsftpd_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# make_shop DIR PER_DIR SIZE SUBDIR...: PER_DIR files of SIZE bytes in each data sub-directory.
make_shop() {
  /usr/bin/python3 - "$@" <<'PY'
import os, sys
shop, per_dir, size, subdirs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
ext = {"comptage": "scb", "caisse": "txt", "filters": "fif", "messages": "msg", "footfall": "txt"}
for sub in subdirs:
    os.makedirs(os.path.join(shop, sub))
    for i in range(per_dir):
        with open(os.path.join(shop, sub, "f%04d.%s" % (i, ext[sub])), "wb") as f:
            f.write(os.urandom(size))
PY
  find "$1" -type f -exec cat {} + >/dev/null  # warm the page cache for every contender
}
shop="$work/data/Shop12"
make_shop "$shop" "$per_dir" 4096 "${subdirs[@]}"
files=$(find "$shop" -type f | wc -l)
mb_shop="$work/data1m/Shop12"
make_shop "$mb_shop" 200 $((1024 * 1024)) caisse
big_shop="$work/data200m/Shop12"
make_shop "$big_shop" 1 $((200 * 1024 * 1024)) caisse
sync  # no write-back of the new trees in the timed rounds

# The FTP server.
mkdir -p "$work/ftp"
/usr/bin/python3 "$root/scripts/ftpserver.py" --port 0 --home "$work/ftp" --user bench:bench:elradfmwMT \
  >"$work/server.out" 2>/dev/null &
server_pid=$!
for _ in $(seq 1 100); do grep -q '^PORT ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port="$(sed -n 's/^PORT //p' "$work/server.out")"
[ -n "$port" ] || { echo "the FTP server did not start" >&2; exit 1; }

# vsftpd, when installed: anonymous logon without password, uploads into /up (its root stays
# read-only for the ftp user, as vsftpd demands).
vs_port=""
if [ "$parts" != copy ] && [ -x /usr/sbin/vsftpd ] && id ftp >/dev/null 2>&1; then
  chmod 755 "$work"
  mkdir -p "$work/vs/up" "$work/vs-empty"
  chown ftp:ftp "$work/vs/up"
  vs_port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$vs_port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$work/vs
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_umask=022
write_enable=YES
local_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
xferlog_enable=NO
secure_chroot_dir=$work/vs-empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
EOF
  /usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/vsftpd.out" 2>&1 &
  vsftpd_pid=$!
  for _ in $(seq 1 100); do
    /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $vs_port), 1)" 2>/dev/null && break
    sleep 0.1
  done
elif [ "$parts" != copy ]; then
  echo "vsftpd is not installed (scripts/install-deps.sh): its rows are left out" >&2
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Runs one ferrix2 pass over SHOP with the given [Transport] lines; prints the pass's elapsed
# milliseconds.
ferrix_pass() {
  local shop="$1" prog="$work/prog"
  shift
  local files
  files=$(find "$shop" -type f ! -name 'tr2list*.dst' | wc -l)
  rm -rf "$prog"
  mkdir -p "$prog" "$work/pipes"
  cp "$program" "$prog/"
  find "$shop" -name 'tr2list*.dst' -delete
  {
    printf '[General]\nLogDetailed=0\nTimeBetweenActions=3600\nExactTimeMode=0\n\n'
    printf '[Directory0]\nTrackDirectory=%s\n\n[Transport]\n' "$shop"
    printf '%s\n' "$@"
  } >"$prog/ferrix.ini"
  NAMEDPIPE_DIR="$work/pipes" "$prog/ferrix2" &
  ferrix_pid=$!
  local line=""
  for _ in $(seq 1 1200); do
    line="$(grep -o 'processed [0-9]* files OK, [0-9]* files bad, elapsed .*' "$prog/ferrix.log" 2>/dev/null || true)"
    [ -n "$line" ] && break
    sleep 0.05
  done
  kill -TERM "$ferrix_pid"
  wait "$ferrix_pid" || true
  ferrix_pid=""
  case "$line" in
    "processed $files files OK, 0 files bad, elapsed "*) ;;
    *) echo "ferrix2 pass failed: ${line:-no summary}" >&2; cat "$prog/ferrix.log" >&2; exit 1 ;;
  esac
  # h:nn:ss:zzz
  echo "${line##* }" | awk -F: '{ print (($1 * 60 + $2) * 60 + $3) * 1000 + $4 }'
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

report() {
  local what="$1" ours="$2" theirs="$3" name="$4" target="$5" files="$6"
  awk -v w="$what" -v o="$ours" -v t="$theirs" -v n="$name" -v g="$target" -v f="$files" 'BEGIN {
    printf "%-4s %s: ferrix2 %d ms, %s %d ms, ratio %.2f (target at most %.2f)\n", w, f, o, n, t, o / t, g }'
}

# copy_rounds SHOP LABEL: COPY of SHOP by ferrix2 against cp -r, each round after a sync, so that
# neither pays for the other's write-back. Every copy goes to a new directory and stays until the
# end: ext4 creates files slowly for a while after many were deleted.
copy_rounds() {
  local src="$1" label="$2" ours=() theirs=() round start to
  for round in $(seq 1 "$copy_rounds"); do
    mkdir -p "$work/copies"
    to="$work/copies/$(basename "$(dirname "$src")")-$round"
    find "$src" -name 'tr2list*.dst' -delete
    sync
    start=$(now_ms)
    cp -r "$src" "$to-cp"
    theirs+=($(( $(now_ms) - start )))
    sync
    ours+=("$(ferrix_pass "$src" Transport=COPY "Destination0=$to-ferrix" DestinationDirectory=central)")
    [ "$(find "$to-ferrix" -type f | wc -l)" -eq "$(find "$to-cp" -type f ! -name 'tr2list*.dst' | wc -l)" ] ||
      { echo "ferrix2 did not copy every file" >&2; exit 1; }
  done
  echo "rounds (ms): COPY $label ferrix2 ${ours[*]} / cp -r ${theirs[*]}"
  report COPY "$(median "${ours[@]}")" "$(median "${theirs[@]}")" "cp -r" 1.1 "$label"
  # The fastest rounds: what each achieves when nothing else holds the disk or the CPUs.
  report "" "$(printf '%s\n' "${ours[@]}" | sort -n | head -1)" \
    "$(printf '%s\n' "${theirs[@]}" | sort -n | head -1)" "cp -r" 1.1 "$label, fastest rounds"
}

if [ "$parts" = copy ]; then
  copy_rounds "$shop" "2000 files of 4 KiB"
  copy_rounds "$mb_shop" "200 files of 1 MiB"
  copy_rounds "$big_shop" "1 file of 200 MiB"
  exit 0
fi

# fastest_of VALUES...: the smallest value.
fastest_of() { printf '%s\n' "$@" | sort -n | head -1; }

ftp_ferrix=() ftp_lftp=() copy_ferrix=() copy_cp=() vs_ferrix=() vs_lftp=()
for round in $(seq 1 "$rounds"); do
  if [ -n "$vs_port" ]; then
    find "$shop" -name 'tr2list*.dst' -delete
    start=$(now_ms)
    lftp -u anonymous,bench -p "$vs_port" -e "set net:max-retries 1; set net:timeout 30; mirror -R $shop /up/lftp$round; quit" \
      127.0.0.1 >/dev/null
    vs_lftp+=($(( $(now_ms) - start )))
    sent="$(find "$work/vs/up/lftp$round" -type f | wc -l)"
    [ "$sent" -eq "$files" ] || { echo "lftp sent $sent of $files files to vsftpd" >&2; exit 1; }
    vs_ferrix+=("$(ferrix_pass "$shop" Transport=FTP Destination0=127.0.0.1 "Port=$vs_port" PassiveMode=1 \
      Username=anonymous Password=bench "DestinationDirectory=up/ferrix$round")")
    [ "$(find "$work/vs/up/ferrix$round" -type f | wc -l)" -eq "$files" ] ||
      { echo "ferrix2 did not send every file to vsftpd" >&2; exit 1; }
  fi

  find "$shop" -name 'tr2list*.dst' -delete  # every file counts as changed again
  start=$(now_ms)
  lftp -u bench,bench -p "$port" -e "set net:max-retries 1; set net:timeout 30; mirror -R $shop /lftp$round; quit" \
    127.0.0.1 >/dev/null
  ftp_lftp+=($(( $(now_ms) - start )))
  sent="$(find "$work/ftp/lftp$round" -type f | wc -l)"
  [ "$sent" -eq "$files" ] || { echo "lftp sent $sent of $files files" >&2; exit 1; }

  ftp_ferrix+=("$(ferrix_pass "$shop" Transport=FTP Destination0=127.0.0.1 "Port=$port" PassiveMode=1 Username=bench \
    Password=bench "DestinationDirectory=ferrix$round")")
  [ "$(find "$work/ftp/ferrix$round" -type f | wc -l)" -eq "$files" ] || { echo "ferrix2 did not send every file" >&2; exit 1; }

  [ "$parts" = ftp ] && continue
  find "$shop" -name 'tr2list*.dst' -delete
  start=$(now_ms)
  cp -r "$shop" "$work/cp$round"
  copy_cp+=($(( $(now_ms) - start )))

  copy_ferrix+=("$(ferrix_pass "$shop" Transport=COPY "Destination0=$work/copy$round" DestinationDirectory=central)")
  [ "$(find "$work/copy$round" -type f | wc -l)" -eq "$files" ] || { echo "ferrix2 did not copy every file" >&2; exit 1; }
done

echo "rounds (ms): FTP ferrix2 ${ftp_ferrix[*]} / lftp ${ftp_lftp[*]}; COPY ferrix2 ${copy_ferrix[*]} / cp -r ${copy_cp[*]}"
report FTP "$(median "${ftp_ferrix[@]}")" "$(median "${ftp_lftp[@]}")" "lftp mirror -R" 1.0 "$files files of 4 KiB"
if [ -n "$vs_port" ]; then
  echo "rounds (ms): FTP to vsftpd ferrix2 ${vs_ferrix[*]} / lftp ${vs_lftp[*]}"
  report FTP "$(median "${vs_ferrix[@]}")" "$(median "${vs_lftp[@]}")" "lftp mirror -R" 0.7 \
    "$files files of 4 KiB to vsftpd"
  report "" "$(fastest_of "${vs_ferrix[@]}")" "$(fastest_of "${vs_lftp[@]}")" "lftp mirror -R" 0.7 \
    "$files files of 4 KiB to vsftpd, fastest rounds"
fi
[ "$parts" = ftp ] && exit 0
report COPY "$(median "${copy_ferrix[@]}")" "$(median "${copy_cp[@]}")" "cp -r" 1.1 "$files files of 4 KiB"
copy_rounds "$mb_shop" "200 files of 1 MiB"
copy_rounds "$big_shop" "1 file of 200 MiB"
