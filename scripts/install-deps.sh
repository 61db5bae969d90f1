#!/bin/sh
# Installs what Talvine needs to build, test and run its demo on Debian 12.
# --bench also installs the yardsticks of the benchmarks: OpenCV (for
# talvine_yardstick), libvips' and ImageMagick's command-line tools.
set -e
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    g++ cmake ninja-build pkg-config clang libclang-rt-14-dev \
    libgtest-dev libgmock-dev libbenchmark-dev \
    libpng-dev libjpeg62-turbo-dev libtiff-dev libwebp-dev libfreetype-dev fonts-dejavu-core \
    qt6-base-dev libexiv2-dev >/dev/null
if [ "${1:-}" = "--bench" ]; then
    $SUDO apt-get install -y -qq --no-install-recommends \
        libopencv-dev libvips-tools imagemagick >/dev/null
fi
