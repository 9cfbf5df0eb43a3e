#!/bin/bash
# Runs a systemd user manager for the tests. Started as root by the test fixture under
# "unshare -m --propagation private", so that the mounts below stay in this mount namespace:
#   user-manager.sh STATE_DIR CGROUP_NAME
# with XDG_RUNTIME_DIR, HOME and the test's variables in the environment. The manager checks
# that a manager runs the machine (/run/systemd/system) and that it has a cgroup folder of its
# own; it gets both here. Its session bus is its own dbus.socket unit (dbus-user-session) at
# $XDG_RUNTIME_DIR/bus: the manager offers its bus interface only on a bus that it runs itself.
set -euo pipefail
state="$1"
cgroup="$2"
exec >"$state/manager.log" 2>&1

mkdir -p /run/systemd
mount -t tmpfs -o mode=0755 tmpfs /run/systemd
mkdir -p /run/systemd/system

if [ -d /sys/fs/cgroup/unified ]; then
  roots=(/sys/fs/cgroup/unified /sys/fs/cgroup/systemd)   # hybrid layout (cgroup v1 + v2)
else
  roots=(/sys/fs/cgroup)                                 # unified layout (cgroup v2 only)
fi
for root in "${roots[@]}"; do
  mkdir -p "$root/$cgroup"
  echo $$ > "$root/$cgroup/cgroup.procs"
done

export SYSTEMD_LOG_TARGET=console
exec /lib/systemd/systemd --user
