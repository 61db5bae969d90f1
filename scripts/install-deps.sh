#!/bin/sh
# Installs what Talvine needs to build, test and run its demo on Debian 12.
# --bench also installs the yardsticks of the benchmarks: OpenCV (for
# talvine_yardstick), libvips' and ImageMagick's command-line tools.
# --windows also installs the MinGW-w64 cross compilers (both thread models
# come with them; the toolchain files pick the posix one), GoogleTest's
# sources to build for Windows, wine64 and the 32-bit wine32:i386 to run the
# tests of both DLLs, and Xvfb with the X libraries Wine's windows use, for
# the test of the Win32 dialogs.
set -e
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
# An index that fails (a mirror mid-sync) shows in the installs that need it.
$SUDO apt-get update -qq || true
$SUDO apt-get install -y -qq --no-install-recommends \
    g++ cmake ninja-build pkg-config clang libclang-rt-14-dev \
    libgtest-dev libgmock-dev libbenchmark-dev \
    libpng-dev libjpeg62-turbo-dev libturbojpeg0-dev libtiff-dev libwebp-dev libfreetype-dev \
    fonts-dejavu-core \
    qt6-base-dev qt6-l10n-tools qt6-tools-dev qt6-translations-l10n libexiv2-dev \
    libopencv-imgproc-dev >/dev/null
for option in "$@"; do
    case "$option" in
    --bench)
        $SUDO apt-get install -y -qq --no-install-recommends \
            libopencv-dev libvips-tools imagemagick >/dev/null ;;
    --windows)
        $SUDO apt-get install -y -qq --no-install-recommends \
            g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 googletest wine64 \
            xvfb xauth libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 \
            libxcomposite1 curl xz-utils >/dev/null
        # Without the 32-bit Wine the 32-bit DLL's tests are skipped (they
        # say why); everything else goes on.
        "$(dirname "$0")/install-wine32.sh" ||
            echo "install-deps.sh: warning: the 32-bit Wine could not be installed" >&2 ;;
    *)
        echo "install-deps.sh: unknown option $option (--bench, --windows)" >&2
        exit 2 ;;
    esac
done
