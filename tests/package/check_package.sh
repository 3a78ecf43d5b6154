#!/usr/bin/env bash
# Usage: check_package.sh BUILD_DIR OUTPUT_DIR [CPACK]
# Builds the Debian package of BUILD_DIR into OUTPUT_DIR, unpacks it into a scratch folder and
# checks it there: the files a desktop needs, dependencies computed from the binaries, both
# programs answering --version from the unpacked tree, the desktop program starting under Xvfb
# and finding its languages in the unpacked share folder, and what desktop-file-validate,
# appstreamcli and lintian say. Exit 77 (skipped) only when one of the tools is missing.
set -euo pipefail
cpack=${3:-cpack}
missing=()
for tool in "$cpack" dpkg-deb dpkg-shlibdeps appstreamcli desktop-file-validate lintian xvfb-run xauth; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: the package check needs ${missing[*]} (scripts/setup.sh installs them)"
  exit 77
fi

build=$(realpath "$1")
output=$(realpath -m "$2")
scratch=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/quillo-package.XXXXXX")")
trap 'rm -rf "$scratch"' EXIT
# Nothing of the session is touched: data folder, config folder, runtime folder and shutdown
# command are throw-away ones.
export HOME=$scratch/home QUILLO_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config
export XDG_RUNTIME_DIR=$scratch/run QUILLO_SHUTDOWN_COMMAND=/bin/true QUILLO_SITE=127.0.0.1:9
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

echo "== cpack"
rm -f "$output"/quillo_*.deb
if ! (cd "$build" && "$cpack" -G DEB -B "$output") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
debs=("$output"/quillo_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single quillo_*.deb in $output"; exit 1; }
deb=${debs[0]}
echo "$deb"

root=$scratch/root
dpkg-deb -x "$deb" "$root"

echo "== contents"
for f in usr/bin/quillo usr/bin/quillo-cli usr/share/quillo/languages/German.lng \
         usr/share/applications/org.quillo.Quillo.desktop \
         usr/share/icons/hicolor/scalable/apps/quillo.svg \
         usr/share/metainfo/org.quillo.Quillo.metainfo.xml \
         usr/share/man/man1/quillo.1.gz usr/share/man/man1/quillo-cli.1.gz \
         usr/share/doc/quillo/copyright usr/share/doc/quillo/changelog.gz; do
  [ -e "$root/$f" ] || fail "$f is not in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6network6 libcurl4 libc6 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "the dependencies do not name $lib"
done
for exe in quillo quillo-cli; do
  readelf -W -S "$root/usr/bin/$exe" | grep -q '\.debug_info' && fail "$exe is not stripped"
  readelf -W -S "$root/usr/bin/$exe" | grep -q '\.quillo\.version' || fail "$exe lost its version record"
done

echo "== --version and --help from the unpacked tree"
pattern='^(quillo|quillo-cli) [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+ \(Quillo Uploader\)$'
for exe in quillo quillo-cli; do
  line=$("$root/usr/bin/$exe" --version | head -n 1) || fail "$exe --version failed"
  echo "$line"
  [[ $line =~ $pattern ]] && [[ $line == "$exe "* ]] || fail "$exe --version printed '$line'"
  "$root/usr/bin/$exe" --help | grep -q "^Usage: $exe" || fail "$exe --help shows no usage"
done
[ -e "$QUILLO_HOME" ] && fail "--version or --help created the data folder"

echo "== the desktop program under Xvfb"
# It starts, finds its languages in the unpacked share folder, takes a file handed to a second
# start (as the desktop entry's %F does, with a name relative to the starter's folder) and ends
# through the close steps on SIGTERM. No QUILLO_HOME here: the data folder is chosen as for a
# user, in the scratch XDG_CONFIG_HOME, even though the unpacked bin folder is writable.
events=$scratch/events.txt
mkdir -p "$scratch/files"
: >"$scratch/files/handed file.txt"
QUILLO_TEST_EVENTS=$events QT_QPA_PLATFORM=xcb timeout 120 env -u QUILLO_HOME xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  bash -c '
    waitfor() {
      for _ in $(seq 300); do
        grep -q "^$1" "$2" 2>/dev/null && return 0
        sleep 0.1
      done
      echo "no \"$1\" event"
      return 1
    }
    "$1" & pid=$!
    waitfor languages-folder "$3"
    (cd "$2" && "$1" "handed file.txt") || echo "the second start failed"
    waitfor add-files "$3"
    kill -TERM "$pid"
    wait "$pid"' _ "$root/usr/bin/quillo" "$scratch/files" "$events" >"$scratch/gui.log" 2>&1 || {
  cat "$scratch/gui.log"
  fail "the desktop program did not start and end cleanly under Xvfb"
}
cat "$events" 2>/dev/null || true
grep -q "the second start failed" "$scratch/gui.log" && fail "a second start with a file failed"
grep -qx 'ready visible=1' "$events" 2>/dev/null || fail "the window did not come up"
grep -qx "languages-folder $root/usr/share/quillo/languages" "$events" 2>/dev/null ||
  fail "the installed program does not take its languages from $root/usr/share/quillo/languages"
grep -qx "add-files $scratch/files/handed file.txt" "$events" 2>/dev/null ||
  fail "the file handed to a second start did not reach the running program"
[ -e "$XDG_CONFIG_HOME/quillo/quillo.ini" ] || fail "the settings were not saved into \$XDG_CONFIG_HOME/quillo"
[ -e "$root/usr/bin/quillo.ini" ] && fail "the installed program wrote its settings beside itself"

echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/org.quillo.Quillo.desktop" || fail "desktop-file-validate"
echo "== appstreamcli validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.quillo.Quillo.metainfo.xml" || fail "appstreamcli validate"
echo "== lintian"
# Errors fail the check; warnings are shown for the record.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
