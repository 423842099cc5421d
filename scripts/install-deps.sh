#!/usr/bin/env bash
# Installs the Debian packages the project needs, in layers:
#   install-deps.sh            what building and running pagemint and rastool need (make run)
#   install-deps.sh --package  and the tools that pack the Debian package (make deb)
#   install-deps.sh --test     and everything the tests and benchmarks use (make test)
# Idempotent: packages already present are skipped; apt-get update runs only when something is missing.
set -euo pipefail

# Every -dev package below answers a find_package or pkg_check_modules call of the CMake files
# (or a library the render library links by name); the rest is what the programs load or read
# at run time.
build_and_run=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libmupdf-dev libfreetype-dev libharfbuzz-dev libjbig2dec0-dev libopenjp2-7-dev
  libjpeg62-turbo-dev libgumbo-dev libmujs-dev zlib1g-dev
  libtiff-dev libimagequant-dev libdeflate-dev liblcms2-dev libseccomp-dev
  # The default CMYK profile the engine reads, text for the window, and its Wayland back-end.
  libgs-common fonts-dejavu-core qt6-wayland
)

package=(
  dpkg-dev file
)

test=(
  clang-format googletest libgtest-dev libpng-dev libgif-dev
  libtiff-tools imagemagick libwmf-bin inkscape netpbm pngcheck
  xvfb xauth openbox xdotool x11-utils dbus-x11
  at-spi2-core python3-pyatspi
  sway wtype grim libwayland-dev
  poppler-utils ghostscript mupdf-tools hyperfine time qpdf tesseract-ocr tesseract-ocr-eng
  clang libclang-rt-14-dev
  lintian appstream desktop-file-utils man-db devscripts
)

packages=("${build_and_run[@]}")
for layer in "$@"; do
  case "$layer" in
  --package) packages+=("${package[@]}") ;;
  --test) packages+=("${package[@]}" "${test[@]}") ;;
  *)
    echo "usage: $0 [--package] [--test]" >&2
    exit 2
    ;;
  esac
done

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
