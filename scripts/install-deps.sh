#!/usr/bin/env bash
# Installs the Debian packages VoxLetter needs, by purpose:
#   scripts/install-deps.sh          what building and running need       (make run, make build-app)
#   scripts/install-deps.sh package  that, and what `make package` needs
#   scripts/install-deps.sh test     all of that, and what the tests, benchmarks and screenshots need
# Idempotent: when every package of the chosen groups is already present it does not touch apt at all.
# Add a package to the group that needs it: the program's build or run (RUN), building the .deb
# (PACKAGE), or only the tests (TEST). A package the installed program needs at run time must also
# appear in the .deb's depends (CMakeLists.txt, CPACK_DEBIAN_PACKAGE_DEPENDS) unless dpkg-shlibdeps
# finds it from the binaries.
set -euo pipefail

GROUP=${1:-run}
case "$GROUP" in
  run | package | test) ;;
  *) echo "usage: $0 [run|package|test]" >&2; exit 2 ;;
esac

# --- building and running -------------------------------------------------------------------------
RUN_PACKAGES=(
  # toolchain; gettext compiles the English catalog
  build-essential cmake ninja-build pkg-config git gettext
  # the windows
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-wqy-microhei     # a font with the windows' Chinese characters
  qt6-translations-l10n  # Qt's own dialogs in the program's language
  # sound and pictures
  portaudio19-dev libasound2-dev libwmf-dev
  # the voice's copy in the mail: reading and WAV (libsndfile), Opus (libopusenc), MP3 (LAME), loudness
  libsndfile1-dev libopusenc-dev libmp3lame-dev libebur128-dev
  libasound2-plugins  # ALSA's pulse plugin: PortAudio reaches a PulseAudio server through it
  # delivery: TLS
  libssl-dev
  # voxletter-cli's options (header-only)
  libcli11-dev
  # addresses (IDNA), voice coding and loudness, account discovery and the keyring, drafts
  libidn2-dev libpsl-dev libsndfile1-dev libebur128-dev libcurl4-openssl-dev libsecret-1-dev
  nlohmann-json3-dev
  # the HTML parser behind the mail's plain-text alternative
  libgumbo-dev
  # sending accounts: the providers' configuration files are XML; the public suffix list's data file
  libexpat1-dev publicsuffix
)

# --- building the .deb (make package) -------------------------------------------------------------
PACKAGE_PACKAGES=(
  dpkg-dev file  # dpkg-shlibdeps, which computes the depends from the binaries, and the file type it asks
)

# --- tests, benchmarks and screenshots only (make test, make bench, make screenshot) ---------------
TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd iproute2 procps
  postfix openssl  # a real exchanger for the delivery tests, and its test certificate
  pulseaudio pulseaudio-utils espeak-ng sox
  curl xvfb xauth x11-apps imagemagick
  libwmf-bin gsfonts  # wmf2gd and its fonts: the benchmark renders the same metafile with libwmf's own renderer
  spamassassin chromium  # what a filter and a browser make of the mails
  opus-tools lame  # other programs' decoders and encoders for the voice coding tests
  gnome-keyring dbus libsecret-tools  # a real keyring on a private session bus for the account tests
  # the package test: the .deb's checks, and a clean Debian root to install it in
  lintian appstream desktop-file-utils debootstrap debian-archive-keyring
  # tests only: the keyboard-only send on Xvfb, with a screen reader's view of the windows (AT-SPI)
  xdotool at-spi2-core python3-gi gir1.2-atspi-2.0
  openbox x11-utils  # the same send under a window manager; xprop tells when the manager is up
  # the voice's formats: decoded by other programs than the encoders (opusdec, mpg123), compared with
  # numpy; opusenc and lame are also the benchmark's peers
  opus-tools mpg123 lame python3-numpy
  # tests only: the locales the language tests run the programs in (generated below)
  locales
)

# The locales the language tests use; a fresh Debian has only C. Generated when `locale -a` lacks one.
TEST_LOCALES=(en_US.UTF-8 zh_CN.UTF-8 de_DE.UTF-8)

# Servers that test packages enable and start on installation (each a package with a service of its
# name). The tests start their own instances (Postfix with its own configuration in a network namespace),
# so the machine's copy stays off: no mail server on the machine's port 25.
TEST_SERVICES_OFF=(postfix)

# ---------------------------------------------------------------------------------------------------
wanted=("${RUN_PACKAGES[@]}")
case "$GROUP" in
  package) wanted+=("${PACKAGE_PACKAGES[@]}") ;;
  test) wanted+=("${PACKAGE_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
esac

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# locale -a spells them en_US.utf8; /etc/locale.gen has "# en_US.UTF-8 UTF-8" commented out.
generate_test_locales() {
  [ "$GROUP" = test ] || return 0
  local absent=()
  for name in "${TEST_LOCALES[@]}"; do
    local short="${name%%.*}.utf8"
    locale -a 2>/dev/null | grep -qix "$short" || absent+=("$name")
  done
  [ ${#absent[@]} -eq 0 ] && return 0
  echo "Generating locales: ${absent[*]}"
  for name in "${absent[@]}"; do
    $SUDO sed -i "s/^# *\(${name//./\\.} UTF-8\)/\1/" /etc/locale.gen
    grep -qx "$name UTF-8" /etc/locale.gen || echo "$name UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen
}

if [ ${#missing[@]} -eq 0 ]; then
  generate_test_locales
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive

# While installing, no service may start: Debian starts a server as soon as its package is unpacked
# (Postfix would listen on port 25 until stopped). policy-rc.d is Debian's switch for that; an existing
# one is left as it is.
POLICY=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$POLICY" ]; then
  printf '#!/bin/sh\n# Written by VoxLetter'"'"'s install-deps.sh for the time of one install.\nexit 101\n' |
    $SUDO tee "$POLICY" >/dev/null
  $SUDO chmod 755 "$POLICY"
  own_policy=1
fi
remove_policy() { if [ "$own_policy" -eq 1 ]; then $SUDO rm -f "$POLICY"; fi; }
trap remove_policy EXIT

# Another install under way (an engineer's, unattended upgrades) is waited for rather than failed on.
APT=(apt-get -q -o DPkg::Lock::Timeout=600)
$SUDO "${APT[@]}" update
$SUDO "${APT[@]}" install -y --no-install-recommends "${missing[@]}"

# Only the servers installed just now are switched off; one the user had already keeps running.
for name in "${TEST_SERVICES_OFF[@]}"; do
  printf '%s\n' "${missing[@]}" | grep -qx "$name" || continue
  if command -v systemctl >/dev/null; then
    $SUDO systemctl disable --quiet "$name.service" 2>/dev/null || true
    if [ -d /run/systemd/system ]; then $SUDO systemctl stop "$name.service" 2>/dev/null || true; fi
  fi
  if [ -x "/etc/init.d/$name" ] && command -v update-rc.d >/dev/null; then
    $SUDO update-rc.d "$name" disable >/dev/null 2>&1 || true
  fi
done

generate_test_locales
