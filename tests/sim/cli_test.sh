#!/usr/bin/env bash
# The switchsim program from a script: --check reports scenario errors with
# file and line; --listen and --config serve sessions, write transcripts and
# tell by their exit status whether every session went as scripted.
set -uo pipefail
sim=$1
dir=$(mktemp -d /tmp/switchsim-cli-XXXXXX)
trap 'rm -rf "$dir"' EXIT
fails=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fails=$((fails + 1)); fi
}

# A client that types one line and reads until the switch closes.
type_line() {  # type_line ADDR PORT TEXT
  local i
  for i in $(seq 300); do  # up to 30 s for the listener on a loaded machine
    if { exec 3<>"/dev/tcp/$1/$2"; } 2>/dev/null; then
      printf '%s\r\n' "$3" >&3
      timeout 20 cat <&3 >/dev/null
      exec 3<&-
      return 0
    fi
    sleep 0.1
  done
  return 1
}

printf 'send ok\nbogus step\n' >"$dir/bad.scn"
printf 'send "> "\nexpect go\nsend bye\\r\\n\nclose\n' >"$dir/go.scn"

"$sim" --check "$dir/bad.scn" >/dev/null 2>"$dir/err"
check "--check fails on a bad scenario" test $? -eq 1
check "--check names file and line" grep -qx "$dir/bad.scn:2: unknown step 'bogus'" "$dir/err"
"$sim" --check "$dir/go.scn" >/dev/null 2>&1
check "--check passes a good scenario" test $? -eq 0
"$sim" --listen 127.0.0.201:2323 >/dev/null 2>&1
check "usage error without a scenario" test $? -eq 2

# One switch, one session, with a transcript.
"$sim" --listen 127.0.0.201:2323 --scenario "$dir/go.scn" --transcript "$dir/t1" --once >"$dir/out1" &
pid=$!
check "client served" type_line 127.0.0.201 2323 go
wait $pid
check "exit 0 when the session completed" test $? -eq 0
check "transcript holds the typed line" grep -qx '< go\\r\\n' "$dir/t1"
check "transcript ends completed" grep -qx '= end completed' "$dir/t1"
check "stdout reports the session" grep -q 'completed' "$dir/out1"

# A session that goes wrong gives exit status 1.
"$sim" --listen 127.0.0.201:2324 --scenario "$dir/go.scn" --once >/dev/null &
pid=$!
type_line 127.0.0.201 2324 stop
wait $pid
check "exit 1 when a session stopped early" test $? -eq 1

# Several switches from a config file, transcripts per switch.
printf '# two switches\n127.0.0.201:2325 go.scn\n127.0.0.202:2325 go.scn\n' >"$dir/demo.conf"
mkdir "$dir/tr"
"$sim" --config "$dir/demo.conf" --transcript-dir "$dir/tr" --once >"$dir/out3" &
pid=$!
type_line 127.0.0.201 2325 go
type_line 127.0.0.202 2325 go
wait $pid
check "config: exit 0" test $? -eq 0
check "config: first transcript" grep -qx '< go\\r\\n' "$dir/tr/127.0.0.201_2325.transcript"
check "config: second transcript" grep -qx '< go\\r\\n' "$dir/tr/127.0.0.202_2325.transcript"
printf '127.0.0.201 go.scn extra\n' >"$dir/bad.conf"
"$sim" --config "$dir/bad.conf" >/dev/null 2>"$dir/err"
check "config error names file and line" grep -qx "switchsim: $dir/bad.conf:1: expected 'ADDR\[:PORT\] SCENARIO'" "$dir/err"

# One session on standard input and output, as an SSH server's forced command
# runs it: no TELNET opening, the typed line in the transcript.
printf 'go\r' | "$sim" --stdio "$dir/go.scn" --transcript "$dir/t4" >"$dir/out4"
check "stdio: exit 0 when the session completed" test $? -eq 0
check "stdio: the console's bytes only" cmp -s "$dir/out4" <(printf '> go\r\nbye\r\n')
check "stdio: transcript holds the typed line" grep -qx '< go\\r' "$dir/t4"
printf 'stop\r' | "$sim" --stdio "$dir/go.scn" >/dev/null
check "stdio: exit 1 when the session stopped early" test $? -eq 1

# The console map picks the scenario by the server port of SSH_CONNECTION.
printf 'user:nobody-here bad.scn\nport:2222 go.scn\n* bad.scn\n' >"$dir/consoles.map"
mkdir "$dir/tr2"
printf 'go\r' | SSH_CONNECTION="127.0.0.1 40000 127.0.0.9 2222" \
  "$sim" --stdio-map "$dir/consoles.map" --transcript-dir "$dir/tr2" >/dev/null
check "stdio-map: exit 0 with the port's console" test $? -eq 0
check "stdio-map: a transcript per session, named by port" \
  grep -qx "= session 1 peer 127.0.0.1:40000 scenario $dir/go.scn" "$dir"/tr2/*-2222-*.transcript
printf 'port:2222 go.scn\n' >"$dir/port.map"
SSH_CONNECTION="127.0.0.1 40000 127.0.0.9 22" "$sim" --stdio-map "$dir/port.map" </dev/null >/dev/null 2>"$dir/err"
check "stdio-map: exit 2 without a console for the port" test $? -eq 2
check "stdio-map: says why" grep -q "port.map: no console for user .* on port 22" "$dir/err"
"$sim" --stdio "$dir/go.scn" --listen 127.0.0.201:2326 >/dev/null 2>&1
check "stdio: usage error with --listen" test $? -eq 2
"$sim" --stdio "$dir/go.scn" --stdio-map "$dir/port.map" >/dev/null 2>&1
check "stdio: usage error with both sources" test $? -eq 2

exit $((fails > 0))
