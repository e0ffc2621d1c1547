#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks the man pages, makes the Debian packages,
# installs both side by side into a scratch root and runs a lookup from there.
# Builds the same sources again in another folder and compares the packages byte for byte.
#   install_test.sh SOURCE_DIR BUILD_DIR HOME_TABLE CUSTOM_TABLE PARSE_TABLE VERSION
set -euo pipefail
source=$1 build=$2 home=$3 custom=$4 hosts=$5 version=$6
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

quiet() {  # quiet COMMAND...: runs COMMAND without its standard output
  "$@" >/dev/null
}

# A tool that testing needs: under CI (CI=true) its absence fails the test, elsewhere it skips what
# needs it, saying so and naming the package to install.
have() {  # have PACKAGE TOOL...
  local package=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null && continue
    if [ "${CI:-}" = true ]; then
      check "$tool is installed, as CI must have it" false
    else
      echo "SKIP: $tool missing (install $package): what needs it is skipped"
    fi
    return 1
  done
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" --component home >/dev/null
cmake --install "$build" --prefix "$prefix" --component custom >/dev/null
for file in bin/varnparse bin/parse bin/varncheck bin/varnquery libexec/fennoKit/varnparse \
  share/man/man1/varnparse.1.gz share/man/man1/parse.1.gz share/man/man1/varncheck.1.gz \
  share/man/man1/varnquery.1.gz share/bash-completion/completions/varnquery \
  share/man/man1/varnparse-fennokit.1.gz share/man/man5/varn_hosts.5.gz \
  share/bash-completion/completions/varnparse share/bash-completion/completions/parse \
  share/bash-completion/completions/varncheck share/zsh/vendor-completions/_varnparse \
  share/fish/vendor_completions.d/varnparse.fish share/fish/vendor_completions.d/parse.fish \
  share/fish/vendor_completions.d/varnquery.fish share/fish/vendor_completions.d/varncheck.fish; do
  check "installed $file" test -f "$prefix/$file"
done
# Debian's own files are for the packages alone.
check "a plain install has programs, pages and completion only" \
  test -z "$(cd "$prefix" && find . -type f | grep -v -E '^./(bin|libexec/fennoKit|share/man/man[15]|share/(bash-completion/completions|zsh/vendor-completions|fish/vendor_completions.d))/')"
check "installed varnparse runs" test "$("$prefix/bin/varnparse"; echo " $?")" = "Not enough parameters
 0"
# The lookups take no options: one argument is too few, whatever it is.
check "varnparse --version is too few arguments" \
  test "$("$prefix/bin/varnparse" --version; echo " $?")" = "Not enough parameters
 0"
check "varncheck --version" test "$("$prefix/bin/varncheck" --version)" = "varncheck $version"
check "varnquery --version" test "$("$prefix/bin/varnquery" --version)" = "varnquery $version"

have mandoc mandoc && have man-db man lexgrog &&
for page in "$prefix"/share/man/man*/*.gz; do
  check "mandoc lint $page" test -z "$(mandoc -T lint -W warning "$page" 2>&1)"
  check "man -l $page" bash -c 'MANPAGER=cat MANWIDTH=80 man -l "$1" 2>&1 | grep -q "SEE ALSO"' _ "$page"
  check "footer of $page has the version" \
    bash -c 'MANPAGER=cat man -l "$1" 2>/dev/null | tail -1 | grep -q "varnparse $2"' _ "$page" "$version"
  check "$page names varn_hosts(5)" bash -c 'zcat "$1" | grep -q "^.Xr varn_hosts 5\|^.Nm varn_hosts"' _ "$page"
done
man1=$prefix/share/man/man1
check "FILES names the home table" bash -c 'zcat "$1" | grep -q "$2"' _ "$man1/varnparse.1.gz" "$home"
check "FILES names the custom table" bash -c 'zcat "$1" | grep -q "$2"' _ "$man1/varnparse-fennokit.1.gz" "$custom"
check "varnquery names every table" bash -c 'zcat "$1" | grep -q "$2" && zcat "$1" | grep -q "$3"' _ "$man1/varnquery.1.gz" "$home" "$hosts"
check "FILES names the parse table" bash -c 'zcat "$1" | grep -q "$2"' _ "$man1/parse.1.gz" "$hosts"
have man-db lexgrog &&
  check "the two varnparse pages have their own whatis lines" \
    test "$(lexgrog "$man1/varnparse.1.gz" | cut -d: -f2-)" != "$(lexgrog "$man1/varnparse-fennokit.1.gz" | cut -d: -f2-)"
check "the custom page says how to run the custom build" \
  bash -c 'zcat "$1" | grep -q "libexec/fennoKit/varnparse"' _ "$man1/varnparse-fennokit.1.gz"

# Only this test's own installs: a manifest of a real install may lie beside them.
cmake "-DMANIFESTS=$build/install_manifest_home.txt;$build/install_manifest_custom.txt" \
  -P "$source/cmake/uninstall.cmake" >/dev/null
check "uninstall removes every file installed" test -z "$(find "$prefix" -type f)"
check "uninstall removes the folders only this project's files were in" \
  test -z "$(find "$prefix" -path "*/fennoKit" -o -path "*/share/bash-completion" -o -path "*/share/zsh" \
    -o -path "*/share/fish")"

# Everything below makes and reads Debian packages.
if ! have dpkg dpkg-deb dpkg || ! have diffutils cmp; then
  echo "install: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

(cd "$build" && cpack -G DEB -B "$scratch/packages" >/dev/null)
debs=("$scratch"/packages/*.deb)
check "two packages" test ${#debs[@]} -eq 2
for package in varnparse varnparse-fennokit; do
  check "$package package has Debian's files" bash -c \
    'dpkg-deb -c "$1"_*.deb | grep -c -E "/usr/share/(doc/$2/(copyright|changelog.gz)|lintian/overrides/$2)\$" | grep -qx 3' \
    _ "$scratch/packages/$package" "$package"
done
check "distinct summaries" test "$(dpkg-deb -f "${debs[0]}" Description | head -1)" != \
  "$(dpkg-deb -f "${debs[1]}" Description | head -1)"
if have lintian lintian; then
  lint=$(lintian "${debs[@]}" 2>&1 | grep -E '^[EW]: ' || true)
  check "lintian: no error or warning${lint:+:
$lint}" test -z "$lint"
fi
# Reproducible: the same sources built in another folder with the same settings make the same
# packages, byte for byte.
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
settings=()
for name in CMAKE_BUILD_TYPE CMAKE_CXX_FLAGS LOOKUP_LIBC LOOKUP_STATIC LOOKUP_SANDBOX LOOKUP_SIMD \
  VARNPARSE_HOME_TABLE VARNPARSE_CUSTOM_TABLE PARSE_TABLE; do
  settings+=("-D$name=$(cache "$name")")
done
cmake -S "$source" -B "$scratch/again" -DBUILD_TESTING=OFF "${settings[@]}" >/dev/null
cmake --build "$scratch/again" -j "$(nproc)" >/dev/null
(cd "$scratch/again" && cpack -G DEB -B "$scratch/packages-again" >/dev/null)
for deb in "${debs[@]}"; do
  check "$(basename "$deb") is the same when built again elsewhere" \
    cmp "$deb" "$scratch/packages-again/$(basename "$deb")"
done

# dpkg installs into a scratch root only for root, which alone may also chroot into it.
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: not root: installing the packages with dpkg --root and the lookups there skipped"
else
  root=$scratch/root
  mkdir -p "$root"/var/lib/dpkg/{info,updates}
  touch "$root"/var/lib/dpkg/{status,available}
  check "packages install side by side" \
    quiet dpkg --root="$root" --force-script-chrootless --log=/dev/null -i "${debs[@]}"
  check "home build installed" test -x "$root/usr/bin/varnparse"
  check "parse installed" test -x "$root/usr/bin/parse"
  check "custom build installed" test -x "$root/usr/libexec/fennoKit/varnparse"
  check "varncheck installed" test -x "$root/usr/bin/varncheck"
  check "varnquery installed" test -x "$root/usr/bin/varnquery"

  # The programs are static: in the scratch root, with its own tables, they answer as installed.
  mkdir -p "$root$(dirname "$home")" "$root$(dirname "$custom")" "$root$(dirname "$hosts")"
  printf 'web01\tFront End\tweb01\n' >"$root$home"
  printf 'c1\tCustom Side\tweb01\n' >"$root$custom"
  printf 'box\tBuild Server\t# 42\n' >"$root$hosts"
  check "home lookup" test "$(chroot "$root" /usr/bin/varnparse web01 2)" = "Front End"
  check "custom lookup" test "$(chroot "$root" /usr/libexec/fennoKit/varnparse web01 2)" = "Custom Side"
  check "parse lookup" test "$(chroot "$root" /usr/bin/parse 42 2)" = "Build Server"
  check "batch lookup" test "$(printf '42\n7\n' | chroot "$root" /usr/bin/varnquery --table=parse 2)" = "Build Server
Not Found"
  rm "$root$custom"
  check "varncheck checks the installed tables" test "$(chroot "$root" /usr/bin/varncheck)" = "$home: 1 line, 1 entry, 0 errors, 0 warnings
$custom: absent (the table of the custom build of varnparse)
$hosts: 1 line, 1 entry, 0 errors, 0 warnings"
fi

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
