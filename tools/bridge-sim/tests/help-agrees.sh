#!/bin/sh
# bridge-sim --help agrees with what bridge-sim accepts: every option it
# lists is tried (and must not be bad input), every scenario command it
# lists is run after a set-up that gives it something to act on (a failed
# expectation is fine, bad input is not), and --listen accepts exactly the
# commands its list names and refuses the others. The example scenarios
# are found where the help says they are.
#   help-agrees.sh BRIDGE-SIM
set -u
sim=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$sim" --help > "$dir/help" || { echo "--help failed"; exit 1; }
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

# --- Options: "  --name PLACEHOLDER  text" in the OPTIONS section.
examples=$(sed -n '/^EXAMPLE SCENARIOS$/{n;s/^ *//;p;}' "$dir/help")
[ -f "$examples/flush.scn" ] || fail "the help's example scenarios ($examples) hold no flush.scn"
sed -n '/^OPTIONS$/,/^[A-Z]/s/^  \(--[a-z-]*\).*/\1/p' "$dir/help" > "$dir/options"
[ -s "$dir/options" ] || fail "no options found in the help"
while read -r option; do
  small="--ports 1 --hosts 1"
  case $option in
    --scenario) args="--scenario $examples/flush.scn" ;;
    --listen) args="--listen $dir/l.sock $small" ;;
    --mirror) args="--mirror $dir/l.sock" ;;
    --capture) args="--capture $dir/capture $small" ;;
    --trace) args="--trace TopoStateReflector=7 $small" ;;
    --json | --real-time) args="$option $small" ;;
    --topologies | --ports | --vlans | --hosts) args="--ports 1 --hosts 1 $option 1" ;;
    --help) args=--help ;;
    *) fail "the help lists $option, which this test does not know how to try"; continue ;;
  esac
  if [ "$option" = --mirror ]; then
    # A listener to mirror, ended in order once the mirror holds the model.
    rm -f "$dir/cmds"; mkfifo "$dir/cmds"
    "$sim" --listen "$dir/l.sock" $small < "$dir/cmds" > "$dir/l.out" 2>&1 &
    exec 3> "$dir/cmds"
    i=0; while [ ! -S "$dir/l.sock" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
    (sleep 1; echo quit >&3) &
  fi
  # shellcheck disable=SC2086
  if [ "$option" = --listen ]; then echo quit | "$sim" $args > "$dir/out" 2>&1; else "$sim" $args < /dev/null > "$dir/out" 2>&1; fi
  status=$?
  [ "$option" = --mirror ] && { wait; exec 3>&-; }
  [ $status -eq 0 ] || { fail "bridge-sim $args: exit status $status"; cat "$dir/out"; }
done < "$dir/options"

# --- Scenario commands: the lines "  command ARGS  text" of the language.
sed -n '/^SCENARIO LANGUAGE$/,$p' "$dir/help" | sed -n 's/^  \([a-z][a-z-]*\( [a-zA-Z|-]*\)*\)  .*/\1/p' > "$dir/commands"
[ "$(wc -l < "$dir/commands")" -gt 30 ] || fail "fewer commands than expected in the help"
tap="Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 7})"
setup="topology 't'
port 't' 'Ethernet1'
vlan 10 't'
host 10 '00:1c:73:00:00:01' 'Ethernet1'
tap 'k' $tap"
# The help's words for values, as a command would give them.
values() {
  sed -e "s/TOPO/'t'/g; s/INTF/'Ethernet1'/g; s/VID/10/g; s/STATE/forwarding/g; s/MAC/'00:1c:73:00:00:01'/g" \
      -e "s/present|absent/present/; s/SECONDS/0.001/; s/BOOL/True/; s/STRING/'s'/; s/CHANGE/complete True/" \
      -e "s/QUERY VALUE/complete False/; s/KEY VALUE/'k' $tap/; s/KEY/'k'/; s/ N$/ 1/"
}
listen_input=$dir/listen.in
printf '%s\n' "$setup" > "$listen_input"
n=0
while read -r command; do
  line=$(echo "$command" | values)
  n=$((n + 1))
  {
    printf '%s\n' "$setup"
    case $command in mirror\ start) ;; mirror* | "expect mirror"*) echo "mirror start" ;; esac
    [ "$command" = "mirror restore" ] && echo "mirror break"
    echo "$line"
  } > "$dir/c$n.scn"
  "$sim" --scenario "$dir/c$n.scn" > "$dir/out" 2>&1
  [ $? -eq 2 ] && { fail "the help's command '$command' as '$line' is bad input:"; cat "$dir/out"; }
  echo "$line" >> "$listen_input"
done < "$dir/commands"

# --- --listen: its list of commands, against what it refuses.
accepted=$(sed -n '/accepts these commands/,/\.$/p' "$dir/help" | sed '1d' | tr -d ',.' )
echo quit >> "$listen_input"
"$sim" --listen "$dir/m.sock" --ports 1 --hosts 1 < "$listen_input" > "$dir/out" 2>&1
setup_lines=$(printf '%s\n' "$setup" | wc -l)
n=0
while read -r command; do
  n=$((n + 1))
  verb=${command%% *}
  case $command in "expect mirror"*) verb="expect mirror" ;; esac
  listed=false
  for a in $accepted; do [ "$a" = "$verb" ] && listed=true; done
  [ "$verb" = "expect mirror" ] && listed=false
  refused=false
  grep -q "^stdin:$((n + setup_lines)): .*is not accepted by --listen" "$dir/out" && refused=true
  grep -q "^stdin:$((n + setup_lines)): unknown command" "$dir/out" && fail "--listen does not know '$command'"
  [ $listed = $refused ] && fail "--listen's list $($listed && echo names || echo leaves out) '$verb', and it $($refused && echo refuses || echo accepts) '$command'"
done < "$dir/commands"

[ $failures -eq 0 ] || exit 1
echo "every option and command of the help was tried"
