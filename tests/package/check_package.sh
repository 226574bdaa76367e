#!/usr/bin/env bash
# The Debian package as a new user gets it: built with cpack into a temporary folder,
# checked by lintian, desktop-file-validate and appstreamcli, unpacked with dpkg-deb, and
# its qmrctl and qmrsim started from there.
#   check_package.sh BUILD_DIR VERSION APPSTREAM_ID
set -uo pipefail

build=$1
version=$2
appstream_id=$3

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for tool in cpack lintian desktop-file-validate appstreamcli dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is missing (script/setup installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== cpack"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb=$work/out/qmrconfig_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
  ls -l "$work/out" >&2
  echo "FAIL: no $deb" >&2
  exit 1
fi
dpkg-deb --info "$deb"

echo "== lintian"
# Default level: errors and warnings fail the package, information is only shown.
if ! lintian --fail-on error,warning --info "$deb"; then
  fail "lintian reports errors or warnings"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"

echo "== control fields"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# libc6 and libstdc++6 come from dpkg-shlibdeps; libqt6svg6 is named by hand.
for dep in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6serialport6 libqt6svg6; do
  [[ ", $depends," == *", $dep "* || ", $depends," == *", $dep,"* ]] || fail "Depends lacks $dep"
done
[ "$(dpkg-deb --field "$deb" Recommends)" = fonts-noto-cjk ] || fail "Recommends is not fonts-noto-cjk"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version is not $version"

echo "== the changelog and the metainfo name this version"
changelog_version=$(zcat "$root/usr/share/doc/qmrconfig/changelog.gz" | sed -n '1s/^qmrconfig (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] \
  || fail "dist/debian/changelog's newest entry is $changelog_version, the project $version"
metainfo=$root/usr/share/metainfo/$appstream_id.metainfo.xml
grep -q "<release version=\"$version\"" "$metainfo" \
  || fail "$appstream_id.metainfo.xml has no release $version"

echo "== desktop-file-validate"
desktop=$root/usr/share/applications/qmrconfig.desktop
# It reports errors through its exit status, warnings and hints only on its output.
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
  echo "$out"
  fail "desktop-file-validate"
fi

echo "== appstreamcli validate --no-net"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1)
status=$?
echo "$out"
if [ $status -ne 0 ] || grep -q '^[EW]:' <<<"$out"; then
  fail "appstreamcli reports errors or warnings"
fi

echo "== icons"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/qmrconfig.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/qmrconfig.png
  if [ ! -f "$png" ]; then
    fail "no ${size}x${size} icon"
    continue
  fi
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$png")
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "${size}x${size} icon is ${w}x${h}"
done

echo "== shell completions"
for file in bash-completion/completions/qmrctl zsh/vendor-completions/_qmrctl \
  fish/vendor_completions.d/qmrctl.fish; do
  grep -q -- '--completion' "$root/usr/share/$file" 2>/dev/null || fail "no completion $file"
done

echo "== the programs from the unpacked package"
out=$("$root/usr/bin/qmrctl" --version 2>&1)
status=$?
echo "$out"
[ $status -eq 0 ] && [[ "$out" == *"$version"* ]] || fail "unpacked qmrctl --version"
if ! "$root/usr/bin/qmrsim" --help >"$work/qmrsim-help.txt" 2>&1; then
  cat "$work/qmrsim-help.txt"
  fail "unpacked qmrsim --help"
fi
head -3 "$work/qmrsim-help.txt"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package: all checks passed"
