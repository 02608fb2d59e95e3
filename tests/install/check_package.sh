#!/usr/bin/env bash
# Builds the Debian packages from the build tree and checks what each holds and needs; the
# optimised build's packages (`release`) also come stripped with -dbgsym packages and pass lintian
# when it is installed: check_package.sh BUILD_DIR VERSION [release]
set -euo pipefail
build=$1
version=$2
release=${3:-}
out=$(mktemp -d -t velmora-package-XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
program=$out/velmora_${version}_amd64.deb
server=$out/velmora-server_${version}_amd64.deb
for deb in "$program" "$server"; do
  [ -f "$deb" ] || fail "missing: $(basename "$deb")"
done

# Holds FILE (a path in the package, with " -> TARGET" for a link).
holds() { dpkg-deb -c "$1" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' |
  grep -qxF "./$2" || fail "$(basename "$1") lacks $2"; }
lacks() { ! dpkg-deb -c "$1" | grep -q "$2" || fail "$(basename "$1") holds $2"; }
id=net.velmora.Velmora
for file in usr/bin/velmora usr/bin/velmora-tool usr/share/velmora/helponline/mainindex.html \
  usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
  usr/share/icons/hicolor/48x48/apps/$id.png usr/share/doc/velmora/copyright \
  usr/share/doc/velmora/changelog.gz usr/share/fontconfig/conf.avail/60-velmora-songti.conf \
  "etc/fonts/conf.d/60-velmora-songti.conf -> /usr/share/fontconfig/conf.avail/60-velmora-songti.conf"; do
  holds "$program" "$file"
done
for file in usr/bin/velmora-server usr/share/doc/velmora-server/copyright \
  usr/share/doc/velmora-server/changelog.gz; do
  holds "$server" "$file"
done
if [ -f "$build/package/man/velmora.1.gz" ]; then
  holds "$program" usr/share/man/man1/velmora.1.gz
  holds "$program" usr/share/man/man1/velmora-tool.1.gz
  holds "$server" usr/share/man/man1/velmora-server.1.gz
fi
# A packaged program never updates itself; the services are a package of their own.
lacks "$program" 'velmora-update'
lacks "$program" 'bin/velmora-server'
lacks "$server" 'bin/velmora$'

# What each needs: the program none of the services' HTTP server library.
depends=$(dpkg-deb -f "$program" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "velmora does not depend on Qt: $depends"
grep -qF 'fonts-noto-cjk | fonts-arphic-uming' <<<"$depends" || fail "velmora lacks its font: $depends"
! grep -q 'httplib' <<<"$depends" || fail "velmora depends on the services' libraries: $depends"
recommends=$(dpkg-deb -f "$program" Recommends)
grep -q 'gnome-keyring' <<<"$recommends" && grep -q 'qt6-wayland' <<<"$recommends" ||
  fail "velmora recommends: $recommends"
grep -q 'libcpp-httplib' <<<"$(dpkg-deb -f "$server" Depends)" || fail "velmora-server depends"
for deb in "$program" "$server"; do
  [ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 ] || fail "$(basename "$deb"): no description"
  [ -n "$(dpkg-deb -f "$deb" Homepage)" ] || fail "$(basename "$deb"): no homepage"
  # The triggers of fontconfig and the desktop refresh their caches; no maintainer scripts.
  dpkg-deb -e "$deb" "$out/control"
  for script in preinst postinst prerm postrm; do
    [ ! -e "$out/control/$script" ] || fail "$(basename "$deb") has a $script"
  done
  rm -rf "$out/control"
done
zcat "$build/package/changelog.gz" | head -1 | grep -qF "($version)" ||
  fail "the changelog's newest entry is not $version"

# Installed into an empty root and purged, they leave nothing behind (the font link included).
root=$out/system
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# Its log too stays in the test's folder, not the machine's /var/log.
in_root=(dpkg --root="$root" --log="$out/dpkg.log" --force-depends --force-not-root
  --force-script-chrootless)
"${in_root[@]}" -i "$program" "$server" >/dev/null 2>&1 || fail "the packages do not install"
[ -L "$root/etc/fonts/conf.d/60-velmora-songti.conf" ] || fail "no font link once installed"
"${in_root[@]}" --purge velmora velmora-server >/dev/null 2>&1 || fail "the packages do not purge"
left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" \
  -not -path "$root/var/lib/dpkg*")
[ -z "$left" ] || fail "left behind: $left"

if [ "$release" = release ]; then
  # Stripped: the symbols are in the -dbgsym packages.
  for deb in velmora-dbgsym velmora-server-dbgsym; do
    [ -f "$out/${deb}_${version}_amd64.ddeb" ] || fail "missing: $deb"
  done
  dpkg-deb -x "$program" "$out/root"
  ! readelf -S "$out/root/usr/bin/velmora" | grep -q '\.debug_info' || fail "velmora is not stripped"
  # Without help2man there are no manual pages, which lintian would rightly ask for.
  if command -v lintian >/dev/null && [ -f "$build/package/man/velmora.1.gz" ]; then
    lintian --pedantic --fail-on error,warning,pedantic "$program" "$server"
  else
    echo "lintian or the manual pages missing: lintian not run"
  fi
fi
echo "packages complete"
