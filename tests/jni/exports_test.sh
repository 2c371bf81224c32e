#!/usr/bin/env bash
# libmodburn.so exports the JNI entry points and nothing else: no symbol of the
# core, the standard library or a template instantiation leaks into the JVM's
# symbol space.
set -euo pipefail
lib=$1
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
[ -n "$exported" ] || { echo "FAIL no exported symbols in $lib"; exit 1; }
stray=$(grep -v -E '^(JNI_OnLoad|JNI_OnUnload|Java_com_corvane_qel_deployer_modburn_Switch_[A-Za-z0-9_]+)$' <<<"$exported" || true)
if [ -n "$stray" ]; then
  echo "FAIL symbols beyond the JNI entry points:"; echo "$stray"; exit 1
fi
for name in JNI_OnLoad JNI_OnUnload err2String platform_1init setAppLogger setLogFile setTelnetDebugLevel update checkRequest readVersions__ readVersions__I setKnownHostsFile setHostKeyPolicy checkHostKey; do
  grep -q -E "(^|_)${name}\$" <<<"$exported" || { echo "FAIL missing export $name"; exit 1; }
done
echo "ok   $(wc -l <<<"$exported") JNI exports and nothing else"
