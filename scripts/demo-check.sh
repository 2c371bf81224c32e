#!/usr/bin/env bash
# The pre-flight check and the wait for rebooted switches, on the demo's simulated switches.
# Real FTP and TFTP servers on 127.0.0.1 (ports 21 and 69, as the demo's URLs say) hold the
# firmware files. 'modburn check' finds a missing file and a refused FTP login in the next
# rollout's inventory before any update starts, 'fleet --check-first' starts nothing, and a
# fleet of two switches that reboot (their consoles go away for a few seconds and come back)
# runs with --wait-back. Run by scripts/demo.sh, as root, with its build and work folders.
#   scripts/demo-check.sh BUILD WORK
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?the build folder}" && pwd)
work=$(cd "${2:?the demo work folder (with switch.pw and ftp.pw)}" && pwd)

pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
modburn() { MODBURN_BUILD=$build "$root/scripts/modburn" "$@"; }
fail() { echo "demo: $*" >&2; exit 1; }

say "A file server for the firmware: FTP and TFTP on 127.0.0.1"
srv=$work/srv
mkdir -p "$srv/fos" "$srv/ios"
head -c 300000 /dev/zero >"$srv/fos/v9.9.9.bin"
head -c 300000 /dev/zero >"$srv/ios/c3750-universalk9.tar"
# The TFTP server reads as an unprivileged user.
chmod 755 "$srv" "$srv/fos" "$srv/ios"
chmod 644 "$srv/fos/v9.9.9.bin" "$srv/ios/c3750-universalk9.tar"
# The FTP server's account: login fw, the password from the demo's password file.
/usr/bin/python3 - "$srv" "$work/ftp.pw" >"$work/ftpd.out" 2>&1 <<'PY' &
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, pwfile = sys.argv[1], sys.argv[2]
a = DummyAuthorizer()
a.add_user("fw", open(pwfile).readline().strip(), root, perm="elr")
FTPHandler.authorizer = a
FTPHandler.auth_failed_timeout = 0
FTPServer(("127.0.0.1", 21), FTPHandler).serve_forever()
PY
pids+=($!)
/usr/sbin/in.tftpd --foreground --address 127.0.0.1:69 --secure "$srv" >"$work/tftpd.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/21) 2>/dev/null && break
  sleep 0.1
done
(exec 3<>/dev/tcp/127.0.0.1/21) 2>/dev/null || { cat "$work/ftpd.out" >&2; fail "the FTP server did not start"; }
kill -0 "${pids[1]}" 2>/dev/null || { cat "$work/tftpd.out" >&2; fail "the TFTP server did not start"; }
(cd "$srv" && find . -type f | sort | sed 's|^\./|  |')

say "The next rollout's inventory, with two mistakes: a mistyped file name and an old FTP password"
printf 'Ov4-Rk1-W6m\n' >"$work/ftp-old.pw"
cat >"$work/next.csv" <<'CSV'
family,address,user,password,url,url_password,reboot,name
brocade,127.0.0.61,admin,file:switch.pw,ftp://fw@127.0.0.1/fos/v9.9.9.bin,file:ftp.pw,yes,brocade-a
brocade,127.0.0.62,admin,file:switch.pw,ftp://fw@127.0.0.1/fos/v9.9.0.bin,file:ftp.pw,no,brocade-b
cisco,127.0.0.11,admin,file:switch.pw,tftp://127.0.0.1/ios/c3750-universalk9.tar,,yes,cisco-a
cisco,127.0.0.12,admin,file:switch.pw,ftp://fw@127.0.0.1/ios/c3750-universalk9.tar,file:ftp-old.pw,no,cisco-b
CSV
cat "$work/next.csv"
echo "\$ scripts/modburn check $work/next.csv"
rc=0
modburn check "$work/next.csv" | tee "$work/check.out" || rc=$?
((rc == 1)) || fail "the check ended with status $rc, expected 1"
grep -q 'brocade-b .*file missing' "$work/check.out" || fail "the check missed the missing file"
grep -q 'cisco-b .*login refused' "$work/check.out" || fail "the check missed the refused login"

echo "\$ scripts/modburn fleet $work/next.csv --check-first --log-dir $work/next-logs"
rc=0
modburn fleet "$work/next.csv" --check-first --log-dir "$work/next-logs" >"$work/check-first.out" 2>&1 || rc=$?
tail -n 2 "$work/check-first.out"
((rc == 1)) || fail "fleet --check-first ended with status $rc, expected 1"
[[ ! -e $work/next-logs ]] || fail "fleet --check-first started updates"

say "Two switches that reboot, updated with --wait-back"
# Each console serves one session, goes away for four seconds (the reboot) and comes back.
rebooting() {
  "$build/sim/switchsim" --listen "$1:23" --scenario "$root/sim/scenarios/$2" --once --accept-timeout-ms 60000
  sleep 4
  "$build/sim/switchsim" --listen "$1:23" --scenario "$root/sim/scenarios/$2" --once --accept-timeout-ms 60000
}
rebooting 127.0.0.63 brocade/success-reboot.scn >"$work/sim-63.out" 2>&1 &
pids+=($!)
rebooting 127.0.0.13 cisco/success-reboot.scn >"$work/sim-13.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  (($(cat "$work/sim-63.out" "$work/sim-13.out" | grep -c '^switchsim: listening on' || true) >= 2)) && break
  sleep 0.1
done
cat >"$work/rollout.csv" <<'CSV'
family,address,user,password,url,url_password,reboot,name
brocade,127.0.0.63,admin,file:switch.pw,ftp://fw@127.0.0.1/fos/v9.9.9.bin,file:ftp.pw,yes,brocade-c
cisco,127.0.0.13,admin,file:switch.pw,tftp://127.0.0.1/ios/c3750-universalk9.tar,,yes,cisco-c
CSV
echo "\$ scripts/modburn fleet $work/rollout.csv --wait-back 2m --log-dir $work/rollout-logs"
rc=0
modburn fleet "$work/rollout.csv" --wait-back 2m --log-dir "$work/rollout-logs" | tee "$work/rollout.out" || rc=$?
((rc == 0)) || fail "the fleet with --wait-back ended with status $rc, expected 0"
(($(grep -c 'ok (back after' "$work/rollout.out") == 2)) || fail "a rebooted switch was not seen back"
if grep -rq -e Dq7-xSw-K3y -e Fz8-Tq2-J9p -e Ov4-Rk1-W6m "$work/check.out" "$work/check-first.out" \
    "$work/rollout.out" "$work/rollout-logs"; then
  fail "a password reached the output or a log file"
fi
