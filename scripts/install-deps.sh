#!/usr/bin/env bash
# Installs every Debian package that building, running and testing VoxLetter need.
# Idempotent: when every package is already present it does not touch apt at all.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # the windows
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-wqy-microhei qt6-translations-l10n
  # sound and pictures
  portaudio19-dev libasound2-dev libwmf-dev
  libasound2-plugins  # ALSA's pulse plugin: PortAudio reaches a PulseAudio server through it
  # voxletter-cli's options (header-only)
  libcli11-dev
  # the HTML parser behind the mail's plain-text alternative, and the drafts' JSON (header-only)
  libgumbo-dev nlohmann-json3-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  python3 python3-aiosmtpd iproute2 procps
  postfix openssl  # a real exchanger for the delivery tests, and its test certificate
  pulseaudio pulseaudio-utils espeak-ng sox
  curl xvfb xauth x11-apps imagemagick
  libwmf-bin gsfonts  # wmf2gd and its fonts: the benchmark renders the same metafile with libwmf's own renderer
  spamassassin chromium  # what a filter and a browser make of the mails
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
