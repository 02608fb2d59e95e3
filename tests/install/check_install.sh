#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks what a desktop needs of it:
# check_install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
prefix=$(mktemp -d -t velmora-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
id=net.velmora.Velmora
for file in bin/velmora bin/velmora-update bin/velmora-tool bin/velmora-server \
    share/velmora/helponline/mainindex.html \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
    share/icons/hicolor/256x256/apps/$id.png share/fontconfig/conf.avail/60-velmora-songti.conf \
    share/doc/velmora/copyright share/doc/velmora/changelog.gz; do
  [ -e "$prefix/$file" ] || { echo "missing: $file" >&2; exit 1; }
done
[ -x "$prefix/bin/velmora" ] || { echo "bin/velmora is not executable" >&2; exit 1; }
grep -q '^Exec=velmora$' "$prefix/share/applications/$id.desktop"
grep -q '^Categories=.*Finance' "$prefix/share/applications/$id.desktop"
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
grep -q '^StartupWMClass=velmora$' "$prefix/share/applications/$id.desktop"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
  { echo "the metainfo has no release $version" >&2; exit 1; }
# The installed programs run: the tool answers its usage, the program starts and keeps
# running until stopped, both with the user's folders in the temporary prefix.
export HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/home/config" XDG_STATE_HOME="$prefix/home/state"
mkdir -p "$HOME"
# Every command answers --help and --version on standard output without a window (no display
# to open one on), and has its manual page when help2man made them.
for command in velmora velmora-tool velmora-server velmora-update; do
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/$command" --help) ||
    { echo "$command --help failed" >&2; exit 1; }
  grep -qi '^usage:' <<<"$help" || { echo "$command --help shows no usage" >&2; exit 1; }
  grep -q -- '--version' <<<"$help" || { echo "$command --help omits --version" >&2; exit 1; }
  answer=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/$command" --version)
  [ "$answer" = "$command $version" ] || { echo "$command --version: $answer" >&2; exit 1; }
  if [ -f "$build/package/man/velmora.1.gz" ]; then
    zcat "$prefix/share/man/man1/$command.1.gz" | grep -q '^\.SH DESCRIPTION' ||
      { echo "no manual page of $command" >&2; exit 1; }
  fi
done
status=0
"$prefix/bin/velmora-tool" >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || { echo "velmora-tool answered $status, not its usage" >&2; exit 1; }
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/velmora" >/dev/null 2>&1 || status=$?
[ "$status" = 124 ] || { echo "velmora ended with $status instead of running" >&2; exit 1; }
[ -f "$XDG_STATE_HOME/velmora/Cookie0.txt" ] || { echo "no cookie file in the state folder" >&2; exit 1; }
echo "install tree complete"
