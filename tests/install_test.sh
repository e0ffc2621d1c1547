#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks the man pages, makes the Debian packages,
# installs both side by side into a scratch root and runs a lookup from there.
#   install_test.sh BUILD_DIR HOME_TABLE CUSTOM_TABLE PARSE_TABLE
set -euo pipefail
build=$1 home=$2 custom=$3 hosts=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0

check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" --component home >/dev/null
cmake --install "$build" --prefix "$prefix" --component custom >/dev/null
for file in bin/varnparse bin/parse libexec/fennoKit/varnparse \
  share/man/man1/varnparse.1 share/man/man1/parse.1 share/man/man1/varnparse-fennokit.1 \
  share/bash-completion/completions/varnparse share/bash-completion/completions/parse; do
  check "installed $file" test -f "$prefix/$file"
done
check "installed varnparse runs" test "$("$prefix/bin/varnparse"; echo " $?")" = "Not enough parameters
 0"

for page in "$prefix"/share/man/man1/*.1; do
  check "mandoc lint $page" test -z "$(mandoc -T lint -W warning "$page" 2>&1)"
  check "man -l $page" bash -c 'MANPAGER=cat MANWIDTH=80 man -l "$1" 2>&1 | grep -q "EXIT STATUS"' _ "$page"
done
check "FILES names the home table" grep -q "$home" "$prefix/share/man/man1/varnparse.1"
check "FILES names the custom table" grep -q "$custom" "$prefix/share/man/man1/varnparse-fennokit.1"
check "FILES names the parse table" grep -q "$hosts" "$prefix/share/man/man1/parse.1"

(cd "$build" && cpack -G DEB -B "$scratch/packages" >/dev/null)
debs=("$scratch"/packages/*.deb)
check "two packages" test ${#debs[@]} -eq 2
root=$scratch/root
mkdir -p "$root"/var/lib/dpkg/{info,updates}
touch "$root"/var/lib/dpkg/{status,available}
check "packages install side by side" \
  dpkg --root="$root" --force-script-chrootless --log=/dev/null -i "${debs[@]}" >/dev/null
check "home build installed" test -x "$root/usr/bin/varnparse"
check "parse installed" test -x "$root/usr/bin/parse"
check "custom build installed" test -x "$root/usr/libexec/fennoKit/varnparse"

# The programs are static: in the scratch root, with its own tables, they answer as installed.
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$root$(dirname "$home")" "$root$(dirname "$custom")" "$root$(dirname "$hosts")"
  printf 'web01\tFront End\tweb01\n' >"$root$home"
  printf 'c1\tCustom Side\tweb01\n' >"$root$custom"
  printf 'box\tBuild Server\t# 42\n' >"$root$hosts"
  check "home lookup" test "$(chroot "$root" /usr/bin/varnparse web01 2)" = "Front End"
  check "custom lookup" test "$(chroot "$root" /usr/libexec/fennoKit/varnparse web01 2)" = "Custom Side"
  check "parse lookup" test "$(chroot "$root" /usr/bin/parse 42 2)" = "Build Server"
else
  echo "not root: lookups in the scratch root skipped"
fi

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
