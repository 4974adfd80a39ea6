#!/usr/bin/env bash
# check-install.sh prefix CMAKE BUILD_DIR HAS_MURRELO   installs into a temporary prefix and runs
#                                           the programs from there (and from the prefix moved)
# check-install.sh package CPACK BUILD_DIR HAS_MURRELO  makes the .deb, lists it, runs lintian
# HAS_MURRELO is 1 when the build has the tray application, DESKTOP 1 when it has the desktop layers.
# Exit 77 = skipped: a tool the package check needs is missing.
set -euo pipefail
mode=$1 tool=$2 build=$3 has_murrelo=$4 desktop=$5
work=$(mktemp -d /tmp/murrelo-install-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# What every installation holds, relative to its prefix; murrelo itself when this build has it.
expected=(
  bin/murrelo-phone
  share/murrelo/l10n/app/en.po share/murrelo/l10n/app/zh-Hans.po
  share/murrelo/l10n/kit/en.po share/murrelo/l10n/kit/zh-Hans.po
  share/man/man1/murrelo-phone.1.gz
  share/doc/murrelo/copyright share/doc/murrelo/changelog.gz
)
[ "$desktop" = 1 ] && expected+=(
  share/applications/zz.holvanis.murrelo.desktop
  share/icons/hicolor/scalable/apps/zz.holvanis.murrelo.svg
  share/man/man1/murrelo.1.gz
)
[ "$has_murrelo" = 1 ] && expected+=(bin/murrelo)

# Runs the installed tray program's self-checks from `prefix`: the tables it reports must be the
# prefix's own, found from the executable's place, never the source tree's.
check_murrelo() {
  local prefix=$1 report
  local version
  version=$("$prefix/bin/murrelo" --version) || fail "$prefix/bin/murrelo --version exited with $?"
  [[ $version == *0.1.0* ]] || fail "$prefix/bin/murrelo --version: '$version'"
  "$prefix/bin/murrelo" --help >/dev/null || fail "$prefix/bin/murrelo --help"
  for language in en zh-Hans; do
    printf '{"interfaceLanguage": "%s"}' "$language" >"$work/config/zz.holvanis.murrelo.json"
    report=$(HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$prefix/bin/murrelo" --l10n-check) \
      || fail "$prefix/bin/murrelo --l10n-check exited with $?"
    local first=${report%%$'\n'*}
    [ "$first" = "mac: $prefix/share/murrelo/l10n/app/$language.po" ] \
      || fail "--l10n-check for $language in $prefix: '$first'"
  done
}

case $mode in
prefix)
  prefix="$work/usr"
  "$tool" --install "$build" --prefix "$prefix" >"$work/install.log" \
    || { cat "$work/install.log"; fail "cmake --install"; }
  for file in "${expected[@]}"; do
    [ -f "$prefix/$file" ] || fail "not installed: $file"
  done
  pages=(murrelo-phone)
  [ "$desktop" = 1 ] && pages+=(murrelo)
  for page in "${pages[@]}"; do
    zcat "$prefix/share/man/man1/$page.1.gz" | grep -q "^\.TH ${page^^} 1" || fail "man page $page"
  done
  usage=$("$prefix/bin/murrelo-phone" --help) || fail "murrelo-phone --help exited with $?"
  [[ $usage == "usage: murrelo-phone "* ]] || fail "murrelo-phone --help: '${usage:0:80}'"
  if [ $has_murrelo = 1 ]; then
    mkdir -p "$work/home" "$work/config"
    check_murrelo "$prefix"
    # A prefix moved elsewhere still finds its own tables.
    mv "$prefix" "$work/moved"
    check_murrelo "$work/moved"
  else
    echo "murrelo is not part of this build: only murrelo-phone was run"
  fi
  ;;
package)
  for needed in dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$needed" >/dev/null || { echo "skipped: $needed missing"; exit 77; }
  done
  (cd "$work" && "$tool" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log"; fail "cpack"; }
  deb=$(ls "$work"/out/murrelo_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || { fail "no .deb made"; exit 1; }
  listing=$(dpkg-deb -c "$deb")
  for file in "${expected[@]}"; do
    grep -q " \./usr/$file\$" <<<"$listing" || fail "not in the package: /usr/$file"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  # dpkg-shlibdeps found the shared libraries the programs link.
  grep -q 'libc6 (>=' <<<"$depends" || fail "no shared-library dependencies: $depends"
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
  cat "$work/lintian.log"
  grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
  grep -q '^W: murrelo: desktop-command-not-in-package' "$work/lintian.log" && [ $has_murrelo = 1 ] \
    && fail "the desktop entry's command is not in the package"
  ;;
*)
  echo "usage: $0 prefix|package TOOL BUILD_DIR" >&2
  exit 2
  ;;
esac
[ $failures -eq 0 ] && echo "ok" || exit 1
