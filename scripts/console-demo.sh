#!/usr/bin/env bash
# Installs the demo service (the demo shop of demo.sh, COPY to a local folder) as the unit
# TransportSvc2 of the calling user's service manager -- the running one where there is one, else
# one started here as the tests start theirs (tests/helpers/user-manager.sh, needs root) -- opens
# the console on it (under Xvfb when there is no display), waits until the window shows the running
# service with the statistics of its first check, saves a picture of the window as
# docs/console-main.png, and removes everything again. The run's files live under
# build/console-demo-run/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/demo" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/demo" -j "$(nproc)" --target ferrix2 console_shot

run="$root/build/console-demo-run"
rm -rf "$run"
mkdir -p "$run/program" "$run/central" "$run/pipes" "$run/console"
chmod 0755 "$run" "$run/pipes"
shop="$run/shop/Shop12"
cp "$root/build/demo/ferrix2" "$run/program/"
# shellcheck source=scripts/demo-shop.sh
source "$root/scripts/demo-shop.sh"
make_demo_shop "$shop"
write_demo_ini "$run/program/ferrix.ini" "$shop" "$run/central"

export FERRIX_SERVICE_MANAGER=user
export NAMEDPIPE_DIR="$run/pipes"
manager_pid=""
cgroup=""
installed=""

manager_state() { systemctl --user show -p SystemState --value 2>/dev/null || true; }

# A user manager of our own, in a mount namespace of its own, as the tests run theirs.
start_own_manager() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "console-demo: no user service manager runs, and only root can start one" >&2
    exit 1
  fi
  local state="$run/manager"
  mkdir -p "$state/runtime" "$state/home/.config"
  chmod 0755 "$state" "$state/runtime"
  export XDG_RUNTIME_DIR="$state/runtime"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
  export XDG_CONFIG_HOME="$state/home/.config"
  cgroup="ferrix-demo-$$"
  HOME="$state/home" unshare -m --propagation private /bin/bash "$root/tests/helpers/user-manager.sh" \
    "$state" "$cgroup" &
  manager_pid=$!
  for _ in $(seq 1 300); do
    case "$(manager_state)" in running|degraded) return 0 ;; esac
    kill -0 "$manager_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "console-demo: the user manager did not start:" >&2
  cat "$state/manager.log" >&2 || true
  exit 1
}

cgroup_roots() {
  if [ -d /sys/fs/cgroup/unified ]; then echo /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; else echo /sys/fs/cgroup; fi
}

stop_own_manager() {
  [ -n "$manager_pid" ] || return 0
  kill -TERM "$manager_pid" 2>/dev/null || true
  for _ in $(seq 1 200); do kill -0 "$manager_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$manager_pid" 2>/dev/null || true
  wait "$manager_pid" 2>/dev/null || true
  for croot in $(cgroup_roots); do
    [ -d "$croot/$cgroup" ] || continue
    find "$croot/$cgroup" -name cgroup.procs -exec cat {} + 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
    for _ in $(seq 1 50); do
      [ -z "$(find "$croot/$cgroup" -name cgroup.procs -exec cat {} + 2>/dev/null)" ] && break
      sleep 0.1
    done
    find "$croot/$cgroup" -depth -type d -exec rmdir {} \; 2>/dev/null || true
  done
}

cleanup() {
  if [ -n "$installed" ]; then
    "$run/program/ferrix2" /UNINSTALL /SILENT || true
  fi
  stop_own_manager
}
trap cleanup EXIT

case "$(manager_state)" in
  running|degraded) echo "console-demo: using the running user manager" ;;
  *) echo "console-demo: starting a user manager of its own"; start_own_manager ;;
esac
if systemctl --user cat TransportSvc2.service >/dev/null 2>&1; then
  echo "console-demo: TransportSvc2 is installed in this manager already; the demo leaves it alone" >&2
  exit 1
fi

"$run/program/ferrix2" /INSTALL /SILENT
installed=1
# The unit's pipes go to the demo's own directory.
dropins="${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user/TransportSvc2.service.d"
mkdir -p "$dropins"
printf '[Service]\nEnvironment=NAMEDPIPE_DIR=%s\n' "$NAMEDPIPE_DIR" > "$dropins/demo.conf"
systemctl --user daemon-reload
systemctl --user start TransportSvc2.service
echo "console-demo: TransportSvc2 runs; opening the console"

shot=("$root/build/demo/tests/console_shot" "$root/docs/console-main.png" "$run/console" 90)
if [ -n "${DISPLAY:-}" ]; then
  "${shot[@]}"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" "${shot[@]}"
fi
echo "console-demo: saved $root/docs/console-main.png and console-main-statistics.png"
echo "== files at the destination ($run/central)"
(cd "$run/central" && find . -type f | sort)
