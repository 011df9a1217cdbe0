#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it: its
# contents and dependencies, the systemd unit (systemd-analyze verify, where
# systemd is installed), and the unpacked agent started from a temporary
# folder on a free loopback port: it must write its configuration beside
# itself and answer a handshake. Skipped with a message where dpkg-deb is
# missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v dpkg-deb >/dev/null; then
  echo "package test skipped: dpkg-deb is missing"
  exit 0
fi
./package.sh >/dev/null
deb=$(ls build-package/zelagent_*.deb)
work=$(mktemp -d)
daemon=""
cleanup() {
  if [ -n "$daemon" ] && kill "$daemon" 2>/dev/null; then
    for _ in $(seq 100); do kill -0 "$daemon" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$daemon" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test FAILED: $*"; exit 1; }

listing=$(dpkg-deb -c "$deb")
for file in opt/zelagent/zelagent lib/systemd/system/zelagent.service etc/logrotate.d/zelagent \
            usr/share/man/man8/zelagent.8.gz usr/share/man/man5/zelagent.conf.5.gz; do
  grep -q " \./$file\$" <<<"$listing" || fail "$file is not in $deb"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q zlib1g <<<"$depends" && grep -q libgmp <<<"$depends" && grep -q patch <<<"$depends" ||
  fail "Depends lacks zlib, GMP or patch: $depends"
[ "$(dpkg-deb -I "$deb" conffiles)" = /etc/logrotate.d/zelagent ] ||
  fail "the logrotate file is not the only conffile"

dpkg-deb -x "$deb" "$work/root"
home="$work/root/opt/zelagent"
if command -v systemd-analyze >/dev/null; then
  # verify wants the program where the unit names it.
  sed "s|/opt/zelagent/|$home/|g" "$work/root/lib/systemd/system/zelagent.service" >"$work/zelagent.service"
  # ... and the man pages of Documentation= where the package puts them.
  out=$(MANPATH="$work/root/usr/share/man" systemd-analyze verify "$work/zelagent.service" 2>&1) || fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify: $out"
else
  echo "unit check skipped: systemd-analyze is missing"
fi

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
stub=/bin/true
env ZELAGENT_LISTEN_PORT="$port" ZELAGENT_BROADCAST_ADDRESS=127.0.0.1 ZELAGENT_PROGRAM_REBOOT=$stub \
    ZELAGENT_PROGRAM_HALT=$stub ZELAGENT_PROGRAM_DATE_SET=$stub ZELAGENT_PROGRAM_NTP=$stub \
    "$home/zelagent" >"$work/console" 2>&1 &
daemon=$!
for _ in $(seq 300); do
  grep -qs "Waiting for connection at port $port" "$home/conf/logs/messages" && break
  kill -0 "$daemon" 2>/dev/null || fail "the agent ended: $(cat "$work/console")"
  sleep 0.1
done
grep -q '^name=anonymous$' "$home/conf/config" || fail "no configuration written beside the agent"

# Another copy of the program, under its own name, opens an authenticated
# connection (the full challenge: the names differ) and asks the version.
mkdir -p "$work/client/conf"
cp "$home/zelagent" "$work/client/zelagent"
echo "name=package-check" >"$work/client/conf/config"
answer=$(timeout 60 "$work/client/zelagent" -o 127.0.0.2 "$port" this_version 2>&1) || fail "no connection: $answer"
grep -q "Read: 12.2.2.2" <<<"$answer" || fail "no answer to the handshake: $answer"
grep -q "Connecting as anonymous" "$home/conf/logs/messages" || fail "the agent ran no challenge"
echo "package test: $(basename "$deb") ($(stat -c %s "$deb") bytes) lists, unpacks, starts and answers a handshake"
