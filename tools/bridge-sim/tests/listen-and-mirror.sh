#!/bin/sh
# Two real processes: `bridge-sim --listen` serves the agent model on a
# Unix-domain socket and takes commands on standard input; `bridge-sim
# --mirror` connects and prints each change. A tap device set in the first
# must appear in the second's output. Every wait is bounded.
set -u
sim=$1
dir=$(mktemp -d)
sock=$dir/agent.sock
trap 'exec 3>&-; kill $mirror 2>/dev/null; rm -rf "$dir"' EXIT
mkfifo "$dir/commands"
"$sim" --listen "$sock" --ports 2 --hosts 4 < "$dir/commands" > "$dir/listen.out" 2>&1 &
listener=$!
exec 3> "$dir/commands"

# Waits up to 20 s for `pattern` in `file`.
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

await "$dir/listen.out" "serving the agent model"
"$sim" --mirror "$sock" > "$dir/mirror.out" 2>&1 &
mirror=$!
await "$dir/mirror.out" "tap 'et2' = "
echo "tap 'crossed' Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tapX', 'fileno': 42})" >&3
await "$dir/mirror.out" "tap 'crossed' = Value('Bridging::Orva::Config::TapDevice', \*\* {'name': 'tapX', 'fileno': 42})"
echo quit >&3
wait $listener || { echo "the listener failed"; cat "$dir/listen.out"; exit 1; }
await "$dir/mirror.out" "connection closed"
wait $mirror || { echo "the mirror failed"; cat "$dir/mirror.out"; exit 1; }
echo "a change crossed from --listen to --mirror"
