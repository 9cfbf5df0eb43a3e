#!/usr/bin/env bash
# Checks an install staged with DESTDIR (default destinations): the three programs at their places
# with mode 0755, ferrix2 and ferrixcon2 each alone in a directory of its own that is 0755, nothing
# else installed, and everything owned by the installing user (root in CI and for a real install).
# Usage: scripts/check-install.sh STAGE_DIR
set -euo pipefail
stage="${1:?usage: $0 STAGE_DIR}"
owner="$(id -un)"
failures=0

fail() {
  echo "install check: $*" >&2
  failures=$((failures + 1))
}

# expect_node PATH TYPE MODE: TYPE as find's %y (f file, d directory), MODE octal.
expect_node() {
  local path="$stage$1" type="$2" mode="$3"
  if [ ! -e "$path" ] || [ -L "$path" ]; then
    fail "$1 is missing or a link"
    return
  fi
  local seen
  seen="$(find "$path" -maxdepth 0 -printf '%y %m %u')"
  [ "$seen" = "$type $mode $owner" ] || fail "$1 is '$seen', want '$type $mode $owner'"
}

# expect_only DIR NAME: DIR holds NAME and nothing else.
expect_only() {
  local listed
  listed="$(ls -A "$stage$1" 2>/dev/null || true)"
  [ "$listed" = "$2" ] || fail "$1 holds '$(echo "$listed" | tr '\n' ' ')', want only '$2'"
}

expect_node /opt/ferrix d 755
expect_only /opt/ferrix ferrix2
expect_node /opt/ferrix/ferrix2 f 755
expect_node /opt/ferrixcon2 d 755
expect_only /opt/ferrixcon2 ferrixcon2
expect_node /opt/ferrixcon2/ferrixcon2 f 755
expect_node /usr/local/bin/ferrix-relay f 755

link="$stage/usr/local/bin/ferrixcon2"
if [ ! -L "$link" ] || [ "$(readlink "$link")" != /opt/ferrixcon2/ferrixcon2 ]; then
  fail "/usr/local/bin/ferrixcon2 is not a link to /opt/ferrixcon2/ferrixcon2"
fi

# Nothing but these files, and no directory but those on their way.
want="$(printf '%s\n' /opt/ferrix/ferrix2 /opt/ferrixcon2/ferrixcon2 /usr/local/bin/ferrix-relay \
  /usr/local/bin/ferrixcon2 | sort)"
seen="$(cd "$stage" && find . ! -type d | sed 's|^\.||' | sort)"
[ "$seen" = "$want" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$want") <(echo "$seen") || true)"
extra_dirs="$(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\.||' |
  grep -Exv '/opt|/opt/ferrix|/opt/ferrixcon2|/usr|/usr/local|/usr/local/bin' || true)"
[ -z "$extra_dirs" ] || fail "directories installed besides the programs': $extra_dirs"

# The directories above the service's must be writable by no group or others.
for dir in /opt /usr /usr/local /usr/local/bin; do
  [ -z "$(find "$stage$dir" -maxdepth 0 -perm /022)" ] || fail "$dir is writable by group or others"
done

if [ "$failures" -ne 0 ]; then
  echo "install check: FAILED ($failures problems) in $stage" >&2
  exit 1
fi
echo "install check: layout and modes of $stage are right"
