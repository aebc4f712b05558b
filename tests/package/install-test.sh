#!/usr/bin/env bash
# Builds the Debian package from the build tree, checks it with lintian, unpacks it into a
# temporary root and runs the installed programs from there: versions, a new project, the demo
# server's package, the console started offscreen. Nothing installed may name the source or the
# build tree.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
version=$3

work=$(mktemp -d /tmp/pelmora-install-test.XXXXXX)
gui_pid=
cleanup() {
  if [ -n "$gui_pid" ]; then kill "$gui_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install-test: $*" >&2; exit 1; }

# The package, into the work folder so the build tree's own package is not replaced.
(cd "$build_dir" && cpack -G DEB --config CPackConfig.cmake -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/out/pelmora_"$version"_*.deb 2>/dev/null | head -n1 || true)
[ -n "$deb" ] || { ls -la "$work/out"; fail "no pelmora_${version}_<arch>.deb"; }
echo "package: $(basename "$deb")"

# The control fields an installer relies on.
control=$(dpkg-deb -f "$deb")
for field in Package Version Architecture Maintainer Section Depends Description; do
  grep -q "^$field: " <<<"$control" || fail "control field $field missing"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in ffmpeg vlc-plugin-base qt6-qpa-plugins libsmbclient libcurl4 libvlc5 'libavformat[0-9]*' 'libavutil[0-9]*' \
           libmongoc-1.0-0 libbson-1.0-0 libqt6widgets6; do
  grep -q "\b$dep\b" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

# lintian: errors fail the test (warnings are printed for the reader).
if [ "$(id -u)" -eq 0 ]; then root_opt=--allow-root; else root_opt=; fi
lintian $root_opt --fail-on error "$deb" || fail "lintian reports errors"

# Unpacked into a temporary root, as dpkg would install it.
root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"
for f in pelmora pelmora-cli; do [ -x "$bin/$f" ] || fail "/usr/bin/$f missing"; done
for f in usr/share/pelmora/default_templates/index.html usr/share/pelmora/manual/index.html \
         usr/share/pelmora/demo/records.json usr/share/applications/org.pelmora.Console.desktop \
         usr/share/icons/hicolor/scalable/apps/org.pelmora.Console.svg \
         usr/share/metainfo/org.pelmora.Console.metainfo.xml \
         usr/share/man/man1/pelmora.1.gz usr/share/man/man1/pelmora-cli.1.gz \
         usr/share/doc/pelmora/copyright usr/share/doc/pelmora/changelog.gz; do
  [ -f "$root/$f" ] || fail "/$f missing"
done

# Nothing refers back to where it was built.
if grep -rlaF -e "$source_dir" -e "$build_dir" "$root"; then
  fail "installed files name the source or build tree"
fi

[ "$("$bin/pelmora-cli" --version)" = "$version" ] || fail "pelmora-cli --version"
[ "$("$bin/pelmora" --version)" = "pelmora $version" ] || fail "pelmora --version"

# A new project, and the demo head-end made by the installed `pelmora-cli demo` from the
# installed demo records, with its server's package built. The programs run from a folder
# outside both trees.
home="$work/home"
mkdir -p "$home"
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config"
cd "$work"
"$bin/pelmora-cli" new "$work/empty.pq2pr" >/dev/null
"$bin/pelmora-cli" --project "$work/empty.pq2pr" info | grep -q "DBVersion" || fail "info"
"$bin/pelmora-cli" demo >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "pelmora-cli demo failed"; }
[ -f "$home/pelmora-demo/demo.pq2pr" ] || { cat "$work/demo.log"; fail "no demo in ~/pelmora-demo"; }
mv "$home/pelmora-demo" "$work/demo"
cd "$work/demo"
"$bin/pelmora-cli" --project demo.pq2pr build-package "Playout 1" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "build-package of the demo failed"; }
package="$work/demo/servers/Playout 1"
[ -f "$package/config.json" ] || fail "the demo package has no config.json"
[ -n "$(find "$package" -name '*.json' -path '*json*' | head -n1)" ] || fail "no schedule files"
# An installed program writes its own files to the user's data folder, never beside itself.
schedule=$("$bin/pelmora-cli" --project demo.pq2pr list Schedules | head -n1 | cut -f1)
"$bin/pelmora-cli" --project demo.pq2pr show-schedule "$schedule" --csv >/dev/null 2>&1 ||
  fail "show-schedule --csv"
ls "$XDG_DATA_HOME"/pelmora/csv/*.csv >/dev/null 2>&1 || fail "no schedule CSV in \$XDG_DATA_HOME/pelmora/csv"
[ ! -e "$root/usr/bin/csv" ] || fail "the program wrote into its installed folder"

# The console makes a demo of its own with --demo, opens it offscreen and stays up until it is
# asked to end.
QT_QPA_PLATFORM=offscreen "$bin/pelmora" --demo "$work/demo2" >"$work/gui.log" 2>&1 &
gui_pid=$!
sleep 4
kill -0 "$gui_pid" 2>/dev/null || { cat "$work/gui.log"; fail "pelmora ended on its own"; }
kill -TERM "$gui_pid"
wait "$gui_pid" || { cat "$work/gui.log"; fail "pelmora did not end cleanly on SIGTERM"; }
gui_pid=
[ -f "$work/demo2/demo.pq2pr" ] || { cat "$work/gui.log"; fail "pelmora --demo made no demo"; }
echo "install-test: ok"
