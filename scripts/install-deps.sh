#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and benchmarking need.
# Idempotent: packages already present are skipped; apt-get update runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  googletest libgtest-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libmupdf-dev libfreetype-dev libharfbuzz-dev libjbig2dec0-dev libopenjp2-7-dev
  libjpeg62-turbo-dev libgumbo-dev libmujs-dev zlib1g-dev
  libtiff-dev libpng-dev libgif-dev libimagequant-dev libdeflate-dev
  libtiff-tools imagemagick libwmf-bin inkscape netpbm pngcheck
  xvfb xauth fonts-dejavu-core openbox xdotool x11-utils
  poppler-utils ghostscript mupdf-tools hyperfine time qpdf tesseract-ocr tesseract-ocr-eng
  clang libclang-rt-14-dev
  dpkg-dev file lintian appstream desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
