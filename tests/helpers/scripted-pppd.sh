#!/bin/bash
# Scripted stand-in for pppd, for tests only: no modem and no PPP peer can run here.
#
# Called as the dial-up layer calls pppd: `call NAME linkname NAME updetach`. Records its
# arguments as one line in $SCRIPTED_PPPD_LOG (when set), then reads the phonebook entry NAME
# ($RAS_PHONEBOOK_DIR/NAME, default /etc/ppp/peers/NAME) for these lines:
#   scripted-exit N         fail with exit status N without connecting
#   scripted-ignore-term    the link ignores SIGTERM
# Otherwise it connects: it starts the link process, which writes its pid to
# $RAS_RUN_DIR/ppp-NAME.pid (default /run), and exits 0 once the link is up, as pppd does with
# updetach. The link lives until SIGTERM, then removes its pid file, as pppd does.
set -u

if [ "${1-}" = "--link" ]; then
    pidfile=$2
    ready=$4
    if [ "$3" = ignore-term ]; then
        trap '' TERM
        echo $$ > "$pidfile"
        echo up > "$ready"
        exec sleep 600
    fi
    trap 'rm -f "$pidfile"; kill $! 2>/dev/null; exit 0' TERM
    echo $$ > "$pidfile"
    echo up > "$ready"
    sleep 600 &
    wait
    exit 0
fi

if [ -n "${SCRIPTED_PPPD_LOG-}" ]; then
    echo "$*" >> "$SCRIPTED_PPPD_LOG"
fi
if [ $# -ne 5 ] || [ "$1" != call ] || [ "$3" != linkname ] || [ "$4" != "$2" ] || [ "$5" != updetach ]; then
    echo "scripted-pppd: unexpected arguments: $*" >&2
    exit 2
fi
name=$2
peer="${RAS_PHONEBOOK_DIR:-/etc/ppp/peers}/$name"
if [ ! -f "$peer" ]; then
    exit 2
fi
status=$(sed -n 's/^scripted-exit \([0-9][0-9]*\)$/\1/p' "$peer")
if [ -n "$status" ]; then
    exit "$status"
fi
mode=normal
if grep -qx scripted-ignore-term "$peer"; then
    mode=ignore-term
fi
pidfile="${RAS_RUN_DIR:-/run}/ppp-$name.pid"
# The link tells through a fifo when it is up; only then does this process exit.
ready="$pidfile.ready"
rm -f "$ready"
mkfifo "$ready"
"$0" --link "$pidfile" "$mode" "$ready" </dev/null >/dev/null 2>&1 &
read -r up < "$ready"
rm -f "$ready"
exit 0
