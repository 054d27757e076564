#!/bin/sh
# bridge-sim as real processes: `--listen` serves the agent model and takes
# commands on standard input, `--mirror` connects and prints each change.
# Every wait is bounded.
#   processes.sh SCENARIO BRIDGE-SIM NOT-AN-ATTRIBUTE-LOG
# SCENARIO:
#   change-crosses-unix, change-crosses-tcp   a tap device set in the
#       listener appears in the mirror's output, over a Unix-domain socket
#       or TCP on loopback; the listener's 'quit' ends both with status 0
#   mirror-of-a-killed-listener     the listener dies: the mirror exits 1
#   mirror-of-a-bad-frame-length    a peer that is not an attribute log: 1
#   mirror-of-a-truncated-frame     the stream ends inside a frame: 1
#   stale-socket-is-replaced        a socket file left by a killed listener
#       is replaced by the next listener, which says so
set -u
scenario=$1
sim=$2
junk=$3
dir=$(mktemp -d)
sock=$dir/agent.sock
listener=
mirror=
cleanup() {
  exec 3>&- 2>/dev/null
  for p in $listener $mirror; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT

# await FILE PATTERN: waits up to 20 s for PATTERN in FILE.
await() {
  i=0
  while ! grep -q "$2" "$1" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 200 ]; then
      echo "no '$2' in $1 after 20 s:"; cat "$1"; exit 1
    fi
    sleep 0.1
  done
}

# listen ADDRESS: starts a listener reading commands from descriptor 3 and
# sets $address to where it serves.
listen() {
  rm -f "$dir/commands" "$dir/listen.out"
  mkfifo "$dir/commands"
  "$sim" --listen "$1" --ports 2 --hosts 4 < "$dir/commands" > "$dir/listen.out" 2>&1 &
  listener=$!
  exec 3> "$dir/commands"
  await "$dir/listen.out" "serving the agent model"
  address=$(sed -n 's/^serving the agent model on \([^;]*\);.*/\1/p' "$dir/listen.out")
}

# mirror_exits STATUS: waits for the mirror and checks its exit status.
mirror_exits() {
  wait "$mirror"
  status=$?
  mirror=
  if [ "$status" != "$1" ]; then
    echo "the mirror's exit status is $status, expected $1:"; cat "$dir/mirror.out"; exit 1
  fi
}

start_mirror() {
  "$sim" --mirror "$1" > "$dir/mirror.out" 2>&1 &
  mirror=$!
}

case $scenario in
change-crosses-unix | change-crosses-tcp)
  if [ "$scenario" = change-crosses-tcp ]; then
    listen 127.0.0.1:0
    case $address in
      127.0.0.1:0 | 127.0.0.1:*[!0-9]*) echo "the listener serves on $address, not on a TCP port it got"; exit 1 ;;
    esac
  else
    listen "$sock"
  fi
  start_mirror "$address"
  await "$dir/mirror.out" "tap 'et2' = "
  echo "tap 'crossed' Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tapX', 'fileno': 42})" >&3
  await "$dir/mirror.out" "tap 'crossed' = Value('Bridging::Orva::Config::TapDevice', \*\* {'name': 'tapX', 'fileno': 42})"
  echo quit >&3
  wait $listener || { echo "the listener failed"; cat "$dir/listen.out"; exit 1; }
  listener=
  mirror_exits 0
  echo "a change crossed from --listen to --mirror over $address"
  ;;
mirror-of-a-killed-listener)
  listen "$sock"
  start_mirror "$address"
  await "$dir/mirror.out" "tap 'et2' = "
  kill -9 $listener
  listener=
  mirror_exits 1
  grep -q "the listener at $sock is gone" "$dir/mirror.out" || { cat "$dir/mirror.out"; exit 1; }
  ;;
mirror-of-a-bad-frame-length | mirror-of-a-truncated-frame)
  bytes=ffffffff
  [ "$scenario" = mirror-of-a-truncated-frame ] && bytes=0000002000000000
  "$junk" "$sock" $bytes > "$dir/junk.out" 2>&1 &
  await "$dir/junk.out" "listening"
  start_mirror "$sock"
  mirror_exits 1
  grep -q "connection closed: \(bad frame length\|truncated frame\)" "$dir/mirror.out" || { cat "$dir/mirror.out"; exit 1; }
  ;;
stale-socket-is-replaced)
  listen "$sock"
  kill -9 $listener
  wait $listener 2>/dev/null
  listener=
  exec 3>&-
  [ -S "$sock" ] || { echo "the killed listener left no socket file"; exit 1; }
  listen "$sock"
  grep -q "replaced the socket $sock left by a listener that is gone" "$dir/listen.out" || { cat "$dir/listen.out"; exit 1; }
  echo quit >&3
  wait $listener || { echo "the listener failed"; cat "$dir/listen.out"; exit 1; }
  listener=
  ;;
*)
  echo "unknown scenario $scenario"; exit 2
  ;;
esac
