#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
# Does nothing when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev qt6-translations-l10n libx11-dev qt6-webengine-dev
  libcurl4-openssl-dev
  libcpp-httplib-dev libssl-dev zlib1g-dev openssl ca-certificates
  libsqlite3-dev libsodium-dev qtkeychain-qt6-dev libqrencode-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format python3-minimal universal-ctags
  appstream desktop-file-utils help2man lintian
  fontconfig fonts-noto-cjk
  xvfb xauth dbus gnome-keyring
  tzdata locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

root=$(cd "$(dirname "$0")/.." && pwd)
fontconf=/etc/fonts/conf.d/60-velmora-songti.conf

# A comma-decimal locale for the tests that the program's numbers ignore the user's locale.
test_locale=de_DE.UTF-8
has_test_locale() { locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; }

if [ "${#missing[@]}" -eq 0 ] && cmp -s "$root/res/fonts/60-velmora-songti.conf" "$fontconf" &&
  has_test_locale; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if ! has_test_locale; then
  $SUDO sed -i "s/^# *\($test_locale UTF-8\)/\1/" /etc/locale.gen
  grep -qx "$test_locale UTF-8" /etc/locale.gen || echo "$test_locale UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# The charts' Song face "宋体" maps to a Song/Ming face that Debian ships.
$SUDO install -m 0644 "$root/res/fonts/60-velmora-songti.conf" "$fontconf"
$SUDO fc-cache -f >/dev/null 2>&1 || true
