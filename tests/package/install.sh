#!/usr/bin/env bash
# The tool as `cmake --install` lays it out under a fresh prefix, and as CPack packs it for
# Debian. Each row runs a command (with PREFIX for the installation) and names a line its output
# must hold.
#   tests/package/install.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.out"
ln -s "$prefix/bin/modburn" "$work/modburn-link"
complete() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _complete_modburn 2>/dev/null; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$prefix/share/bash-completion/completions/modburn" "$@"
}
man_page() { gzip -dc "$prefix/share/man/man1/modburn.1.gz" | groff -man -Tutf8 -P-cbou -ww 2>&1; }
loaded_library() {
  LD_DEBUG=files LD_DEBUG_OUTPUT=$work/ld "$prefix/bin/modburn" families >/dev/null
  sed -n 's/.*file=\(\/[^ ]*\/libmodburn\.so\) .*dynamically loaded by.*/\1/p' "$work"/ld.*
}

# name | command | a line of its output (pattern)
rows=(
  "the families|$prefix/bin/modburn families|^6 +Brocade +brocadeflash "
  "the version|$prefix/bin/modburn --version|^modburn 1.0$"
  "through a link in another folder|$work/modburn-link families|^11 +SAS "
  "the installed library, not an unpacked copy|loaded_library|^$prefix/lib/.*jni/libmodburn.so$"
  "completion of a command|complete modburn fl|^fleet$"
  "completion of an option|complete modburn update --reb|^--reboot$"
  "the man page's name line|man_page|^ +modburn +- +updates +the +firmware +of +blade-chassis +switch +modules"
  "the man page's update section|man_page|^ +modburn update$"
  "the man page's fleet section|man_page|^ +Usage: modburn fleet "
)
for row in "${rows[@]}"; do
  IFS='|' read -r name command output <<<"$row"
  # shellcheck disable=SC2086 # the command is words
  $command >"$work/out" 2>&1 || fail "$name: status $?: $(cat "$work/out")"
  grep -Eq -- "$output" "$work/out" || fail "$name: no line '$output' in: $(cat "$work/out")"
  echo "ok   $name"
done
! man_page | grep -q 'warning' || fail "groff complains about the man page: $(man_page | grep warning)"
echo "ok   groff reads the man page without a complaint"

# The Debian package: the same files under /usr, depending on Java and the tool's Java libraries.
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.out") || fail "cpack: $(cat "$work/cpack.out")"
deb=$(echo "$work"/deb/modburn_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/modburn ./usr/share/java/modburn.jar "./usr/lib/$(gcc -print-multiarch)/jni/libmodburn.so" \
    ./usr/share/bash-completion/completions/modburn ./usr/share/man/man1/modburn.1.gz; do
  grep -qx -- "$file" <<<"$contents" || fail "the Debian package has no $file: $contents"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in 'default-jre-headless (>= 2:1.17) | java17-runtime-headless' libpicocli-java libjackson2-core-java \
    libcommons-csv-java libcommons-net-java; do
  grep -qF -- "$package" <<<"$depends" || fail "the Debian package does not depend on $package: $depends"
done
echo "ok   the Debian package $(basename "$deb")"
