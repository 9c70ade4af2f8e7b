#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that every file of the sources says its copyright and licence
# (reuse lint), then what an install delivers, from a configured and built build folder
# (default build/): installs into a temporary prefix and checks the file list,
# validates the desktop entry, the AppStream metainfo and the MIME type, renders the man pages,
# runs --version and the bash completion, then builds the Debian package, lists
# it, runs lintian on it, and (as root) installs it with apt-get, runs zk7prog from PATH and removes
# it again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-install: $*" >&2
  exit 1
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
gui=$(cache ZK7_BUILD_GUI)
app_id=org.example.zk7programmer

# Every source, script and data file carries its licence (an SPDX header, or
# .reuse/dep5 for what cannot carry one).
if [ -d .git ] || git rev-parse --git-dir >/dev/null 2>&1; then
  reuse lint >"$work/reuse.log" 2>&1 || {
    cat "$work/reuse.log"
    fail "reuse lint: a file does not say its licence"
  }
fi

# Every file an install must give, and nothing else.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(bin/zk7prog libexec/zk7-programmer/zk7-guard share/man/man1/zk7prog.1.gz
  share/bash-completion/completions/zk7prog share/doc/zk7-programmer/README.md
  share/doc/zk7-programmer/copyright share/doc/zk7-programmer/changelog.gz
  lib/udev/rules.d/60-zk7-programmer.rules)
for page in docs/*.md docs/*.png; do expected+=("share/doc/zk7-programmer/$page"); done
if [ "$gui" = ON ]; then
  expected+=(bin/zk7-programmer share/man/man1/zk7-programmer.1.gz
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml"
    "share/mime/packages/$app_id.xml"
    share/icons/hicolor/scalable/apps/zk7-programmer.svg
    share/icons/hicolor/48x48/apps/zk7-programmer.png
    share/icons/hicolor/256x256/apps/zk7-programmer.png)
fi
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) ||
  fail "the installed files differ from the expected list (- expected, + installed)"

# Validators, man pages, icon sizes.
if [ "$gui" = ON ]; then
  desktop-file-validate "$prefix/share/applications/$app_id.desktop"
  appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml"
  # The device file's MIME type: *.dvs is application/x-zk7-dvs, and the desktop entry opens it.
  mime=$work/mime
  mkdir -p "$mime/packages" && cp "$prefix/share/mime/packages/$app_id.xml" "$mime/packages/"
  update-mime-database "$mime" >/dev/null 2>&1 || fail "update-mime-database refuses $app_id.xml"
  grep -qx 'application/x-zk7-dvs:\*\.dvs' "$mime/globs" || fail "*.dvs is not application/x-zk7-dvs"
  grep -qx 'MimeType=application/x-zk7-dvs;' "$prefix/share/applications/$app_id.desktop" ||
    fail "the desktop entry does not open application/x-zk7-dvs"
  for size in 48 256; do
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/zk7-programmer.png" |
      grep -q "PNG image data, $size x $size" || fail "the ${size} px icon is not ${size} x ${size}"
  done
fi
for page in "$prefix"/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l --warnings=all "$page" 2>&1 >/dev/null) ||
    fail "man cannot render $page"
  [ -z "$warnings" ] || fail "man warns on $page: $warnings"
done

# --version from the installed programs (its first line; the licence notice follows);
# the application must not need a display.
first_line() { "$@" | head -n 1; }
[ "$(first_line "$prefix/bin/zk7prog" --version)" = "zk7prog $version" ] || fail "zk7prog --version"
if [ "$gui" = ON ]; then
  [ "$(first_line env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/zk7-programmer" --version)" = \
    "zk7-programmer $version" ] || fail "zk7-programmer --version"
fi

# A run finds its guard where it was installed (it refuses to power anything without one).
env -u ZK7_GUARD "$prefix/bin/zk7prog" read --port emulator >/dev/null ||
  fail "the installed zk7prog cannot run: is its guard missing?"

# The completion: a command, a port and a file by extension.
mkdir "$work/files" && touch "$work/files/a.dvs" "$work/files/b.txt"
complete_line() {
  (cd "$work/files" && bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _zk7prog; echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/zk7prog" "$@")
}
[ "$(complete_line zk7prog prog)" = program ] || fail "completion of a command"
[ "$(complete_line zk7prog verify a.dvs --port em)" = emulator ] || fail "completion of a port"
[ "$(complete_line zk7prog show "")" = a.dvs ] || fail "completion of a file"

# The Debian package.
rm -f "$build"/zk7-programmer_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"
  fail "cpack"
}
deb=$(realpath "$build"/zk7-programmer_"$version"_*.deb)
dpkg-deb -c "$deb"
dpkg-deb -f "$deb" Package Version Section Depends
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "the package's dependencies were not computed"
# lintian's errors are what Debian refuses a package for; warnings are shown.
lintian_ok=yes
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_ok=no
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$lintian_ok" = yes ] || fail "lintian reports errors on the package"

if [ "$(id -u)" -ne 0 ]; then
  echo "check-install: not root, the package was not installed"
elif dpkg-query -W -f='${Status}' zk7-programmer 2>/dev/null | grep -q "ok installed"; then
  echo "check-install: zk7-programmer is installed already; left as it is, not tried"
else
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    fail "apt-get install"
  }
  dpkg -L zk7-programmer >"$work/files.list"
  [ "$(first_line zk7prog --version)" = "zk7prog $version" ] || fail "zk7prog --version from PATH"
  [ "$(command -v zk7prog)" = /usr/bin/zk7prog ] || fail "PATH finds $(command -v zk7prog) first"
  env -u ZK7_GUARD zk7prog read --port emulator >/dev/null || fail "zk7prog from PATH cannot run its guard"
  if [ "$gui" = ON ]; then
    [ "$(first_line env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM zk7-programmer --version)" = \
      "zk7-programmer $version" ] || fail "zk7-programmer --version from PATH"
  fi
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq zk7-programmer >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    fail "apt-get purge"
  }
  while read -r path; do
    [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after removal"
  done <"$work/files.list"
  ! dpkg-query -W -f='${Status}' zk7-programmer 2>/dev/null | grep -q "ok installed" ||
    fail "the package is still installed"
  echo "check-install: the package installed, ran and was removed"
fi
echo "check-install: all install checks passed"
