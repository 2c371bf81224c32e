#!/usr/bin/env bash
# The command-line tool against N simulated Brocade consoles at once:
#   bench/fleet/tool.sh [N] [HARD_LIMIT]
# starts one switchsim for N consoles, then runs `scripts/modburn fleet --parallel N` with the
# usual soft descriptor limit of 1024 (and HARD_LIMIT as the hard limit, when given), and prints
# the tool's first lines, its last lines, its wall time and its peak resident memory.
# Needs root (port 23 of 127.21.x.y).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${MODBURN_BUILD:-$root/build}
n=${1:-1000}
hard=${2:-}
work=$(mktemp -d /tmp/modburn-fleet-tool.XXXXXX)
trap 'kill $sim 2>/dev/null || true; rm -rf "$work"' EXIT
printf 'Sw1tch-Pw\n' > "$work/switch.pw"
printf 'Ftp-9ass\n' > "$work/ftp.pw"
echo "family,address,user,password,url,url_password,reboot,name" > "$work/inv.csv"
: > "$work/switches.conf"
for ((i = 0; i < n; i++)); do
  addr=127.21.$((i / 250)).$((i % 250 + 1))
  echo "$addr:23 $root/sim/scenarios/brocade/success-reboot.scn" >> "$work/switches.conf"
  echo "brocade,$addr,admin,file:switch.pw,ftp://fwuser@10.0.0.9/fw/image.bin,file:ftp.pw,yes,sw$i" >> "$work/inv.csv"
done
"$build/sim/switchsim" --config "$work/switches.conf" > "$work/sim.out" &
sim=$!
for _ in $(seq 600); do
  [[ $(grep -c '^switchsim: listening' "$work/sim.out" || true) -ge $n ]] && break
  sleep 0.1
done
cd "$work"
set +e
(
  if [[ -n $hard ]]; then ulimit -n "$hard"; fi
  ulimit -Sn "$(( $(ulimit -Hn) < 1024 ? $(ulimit -Hn) : 1024 ))"
  echo "descriptor limit: soft $(ulimit -Sn), hard $(ulimit -Hn)"
  /usr/bin/time -f 'tool: wall %e s, user %U s, system %S s, peak RSS %M KB' \
    "$root/scripts/modburn" fleet inv.csv --parallel "$n" --progress plain --log-dir logs > out.txt 2> err.txt
  echo "exit status $?"
)
head -2 out.txt
grep -v '^tool:' err.txt | head -3 || true
grep -c 'succeeded in' out.txt | sed 's/^/plain lines "succeeded in": /'
tail -1 out.txt
grep '^tool:' err.txt
