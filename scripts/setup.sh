#!/usr/bin/env bash
# Installs everything Kestrel needs to build, test and run on Debian 12, and nothing twice.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libblkid-dev nlohmann-json3-dev zlib1g-dev libssl-dev libewf-dev ewf-tools libxml2-utils
  clang libclang-rt-14-dev
  dosfstools mtools ntfs-3g ntfs-3g-dev fdisk exfatprogs exfat-fuse
  forensics-samples-exfat forensics-samples-files
  graphicsmagick icoutils sox ffmpeg ghostscript zip unzip python3 exiv2 libjpeg-turbo-progs
  libtiff-tools libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui qpdf
  python3-docx python3-xlsxwriter python3-xlwt
  qt6-base-dev qt6-image-formats-plugins fonts-dejavu-core libgl-dev
  libfuse3-dev
)

missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
