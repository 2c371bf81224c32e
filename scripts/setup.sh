#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian machine (idempotent).
set -euo pipefail
packages=(build-essential cmake clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          libre2-dev openjdk-17-jdk-headless junit4 libhamcrest-java libpicocli-java libjackson2-core-java libcommons-csv-java
          inetutils-telnetd socat valgrind time groff-base
          libcommons-net-java python3-pyftpdlib tftpd-hpa
          pkg-config libssh-dev openssh-server)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
