#!/usr/bin/env bash
# The command-line tool (scripts/modburn) updates every family that offers SSH through a real
# sshd whose consoles sshd_consoles serves, one port per family. Each row runs the tool in a
# folder of its own and names the known_hosts file it is given, the exit status, lines its output
# must hold and what that file holds afterwards. No output, log or report of any row may hold
# five characters in a row of the switch password, the FTP password or a wrong password.
#   tests/ssh/tool_over_ssh.sh SSHD_CONSOLES BUILD SOURCE     (exit 77: no sshd here)
set -euo pipefail
consoles=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-tool-ssh.XXXXXX")
server=
cleanup() {
  if [[ -n $server ]]; then
    exec 3>&- # the server stops when its input closes
    wait "$server" || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL $*" >&2; exit 1; }
start=$SECONDS

# The server, kept for as long as this script holds the pipe's other end open.
mkfifo "$work/keep"
"$consoles" "$work" <"$work/keep" >"$work/consoles" 2>&1 &
server=$!
exec 3>"$work/keep"
for _ in $(seq 600); do
  grep -qE '^(ready|skip:|error:)' "$work/consoles" && break
  sleep 0.05
done
if grep -q '^skip:' "$work/consoles"; then
  sed -n 's/^skip: /SKIP /p' "$work/consoles"
  exit 77
fi
grep -q '^ready$' "$work/consoles" || fail "sshd_consoles did not start: $(cat "$work/consoles")"

field() { sed -n "s/^$1 //p" "$work/consoles"; }
addr=$(field address)
user=$(field user)
hostkey=$(field hostkey)
fingerprint=$(field fingerprint)
declare -A port reboot modifier url
families=()
while read -r _ family p r m u; do
  families+=("$family")
  port[$family]=$p reboot[$family]=$r modifier[$family]=$m url[$family]=$u
done < <(grep '^console ' "$work/consoles")
((${#families[@]} > 0)) || fail "no consoles in: $(cat "$work/consoles")"
for f in switch.pw url.pw; do
  [[ $(stat -c %a "$work/$f") == 600 ]] || fail "$f is not private"
done
printf 'Wr0ng-Pass-77\n' >"$work/wrong.pw"
chmod 600 "$work/wrong.pw"

# known_hosts files: every console's key; none (rows after the first of them keep what they
# leave); another key for every console.
for f in "${families[@]}"; do echo "[$addr]:${port[$f]} $hostkey"; done >"$work/known_hosts"
: >"$work/known_none"
ssh-keygen -q -t ed25519 -N '' -C other -f "$work/other_key" >/dev/null
other=$(cut -d' ' -f1,2 "$work/other_key.pub")
for f in "${families[@]}"; do echo "[$addr]:${port[$f]} $other"; done >"$work/known_other"
rm -f "$work/other_key"

# The update of one family as an operator types it; PASSWORD_FILE defaults to the right one.
update() {
  local f=$1 known=$2 pwfile=${3:-$work/switch.pw}
  local a="update $f ssh://$addr:${port[$f]} $user ${url[$f]} --known-hosts $known --password-file $pwfile"
  [[ ${url[$f]} != *@* ]] || a+=" --url-password-file $work/url.pw"
  [[ ${reboot[$f]} != yes ]] || a+=" --reboot"
  [[ ${modifier[$f]} == 0 ]] || a+=" --modifier ${modifier[$f]}"
  echo "$a"
}
# The inventory: one row per family, its passwords as files beside it.
{
  echo "family,address,user,password,url,url_password,reboot,modifier,name"
  for f in "${families[@]}"; do
    pw=
    [[ ${url[$f]} != *@* ]] || pw=file:url.pw
    echo "$f,ssh://$addr:${port[$f]},$user,file:switch.pw,${url[$f]},$pw,${reboot[$f]},${modifier[$f]},ssh-$f"
  done
} >"$work/fleet.csv"
fleetLines="^${#families[@]} succeeded, 0 failed, 0 not started$"
for f in "${families[@]}"; do fleetLines+=";^ssh-$f +.* ok +[0-9]+:[0-9]{2} +/.*/logs/ssh-$f\.log$"; done

raddr=${addr//./\\.}
rfingerprint="ssh-ed25519 ${fingerprint//+/\\+}"
keyline="[$addr]:${port[cisco]} $hostkey"
# name | known_hosts | tool arguments | exit status | lines the output must hold (ERE, ;-separated)
#   | known_hosts afterwards: same, or the key line it must hold alone
rows=(
  "brocade, rebooted, FTP password from a file, every log line|known_hosts|$(update brocade @KNOWN@) --debug 2 --telnet-debug 2|0|^modburn: Brocade switch ssh://$raddr:${port[brocade]} updated from ftp://fwuser:\*+@10\.0\.0\.9/fw/image\.bin, rebooted$|same"
  "SAS, TFTP, modifier 1, no reboot|known_hosts|$(update sas @KNOWN@)|0|^modburn: SAS.* switch ssh://$raddr:${port[sas]} updated from tftp://10\.0\.0\.9/fw/image\.bin$|same"
  "the fleet: every family at once|known_hosts|fleet $work/fleet.csv --known-hosts @KNOWN@ --parallel ${#families[@]} --log-dir logs --progress plain|0|$fleetLines|same"
  "a wrong password: the login refused|known_hosts|$(update qlogic @KNOWN@ "$work/wrong.pw")|13|failed: IO_BAD_SWITCH_LOGIN|same"
  "another key for the console: refused|known_other|$(update nortel @KNOWN@)|11|failed: IO_CONN_ERR;has changed.*$rfingerprint|same"
  "an unknown key: refused, its fingerprint shown|known_none|$(update cisco @KNOWN@)|11|failed: IO_CONN_ERR;is unknown: $rfingerprint|same"
  "an unknown key with --accept-new-host-keys: added, updated|known_none|$(update cisco @KNOWN@) --accept-new-host-keys|0|^modburn: Cisco.* switch ssh://$raddr:${port[cisco]} updated from ftp://fwuser:\*+@10\.0\.0\.9/fw/image\.bin, rebooted$|$keyline"
  "the added key is known the next time|known_none|$(update cisco @KNOWN@)|0|updated from|$keyline"
)
# Runs row n of the table in the folder rown; its verdict goes into rown/verdict.
run_row() {
  local n=$1 name known args status lines after dir before rc p patterns
  IFS='|' read -r name known args status lines after <<<"${rows[n]}"
  dir="$work/row$n"
  mkdir "$dir"
  miss() { echo "FAIL $name: $*" >"$dir/verdict"; }
  before=$(cat "$work/$known")
  rc=0
  # shellcheck disable=SC2086 # the arguments are words
  (cd "$dir" && MODBURN_BUILD=$build "$source/scripts/modburn" ${args//@KNOWN@/$work/$known} \
    </dev/null >"$dir/out" 2>"$dir/err") || rc=$?
  if ((rc != status)); then
    miss "status $rc, not $status: $(cat "$dir/out" "$dir/err" | tail -n 20)"
    return 1
  fi
  IFS=';' read -ra patterns <<<"$lines"
  for p in "${patterns[@]}"; do
    if ! grep -Eq -e "$p" "$dir/out" "$dir/err"; then
      miss "no line '$p' in: $(cat "$dir/out" "$dir/err" | tail -n 20)"
      return 1
    fi
  done
  [[ $after != same ]] || after=$before
  if [[ $(cat "$work/$known") != "$after" ]]; then
    miss "$known holds '$(cat "$work/$known")', not '$after'"
    return 1
  fi
  echo "ok   $name ($((SECONDS - start)) s)" >"$dir/verdict"
}

# The rows of a known_hosts file that some row changes run in the table's order, one after the
# other; every other row runs at once with them.
declare -A changes lanes
for row in "${rows[@]}"; do
  IFS='|' read -r _ known _ _ _ after <<<"$row"
  [[ $after == same ]] || changes[$known]=1
done
for n in "${!rows[@]}"; do
  IFS='|' read -r _ known _ <<<"${rows[n]}"
  lane=$n
  [[ -z ${changes[$known]:-} ]] || lane=$known
  lanes[$lane]+=" $n"
done
pids=()
for lane in "${lanes[@]}"; do
  # shellcheck disable=SC2086 # the rows' numbers are words
  (for n in $lane; do run_row "$n" || break; done) 3>&- &
  pids+=($!)
done
wait "${pids[@]}" || true
failed=0
for n in "${!rows[@]}"; do
  IFS='|' read -r name _ <<<"${rows[n]}"
  cat "$work/row$n/verdict" 2>/dev/null || echo "FAIL $name: not run, a row before it in its lane failed"
  grep -qs '^ok' "$work/row$n/verdict" || failed=$((failed + 1))
done
((failed == 0)) || fail "$failed of ${#rows[@]} rows"
for f in "${families[@]}"; do
  grep -qs "update succeeded" "$work"/row*/logs/ssh-"$f".log || fail "the fleet's log of $f: no 'update succeeded'"
done

# Every piece of five characters of each password, looked for in all the rows wrote.
for f in switch.pw url.pw wrong.pw; do
  secret=$(head -n1 "$work/$f")
  for ((k = 0; k + 5 <= ${#secret}; k++)); do echo "${secret:k:5}"; done
done >"$work/pieces"
shown=$(grep -rlF -f "$work/pieces" "$work"/row* || true)
[[ -z $shown ]] || fail "a piece of a password in: $shown"
echo "ok   no piece of a password in $(find "$work"/row* -type f | wc -l) files ($((SECONDS - start)) s)"
