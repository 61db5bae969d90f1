#!/bin/sh
# Installs Debian's 32-bit Wine (wine32:i386), which runs the 32-bit
# Talvine.dll's tests.  Called by install-deps.sh --windows.
#
# A mirror caught mid-sync serves an i386 package index whose size differs
# from its Release file; apt then drops that index, and the i386 twins of the
# libraries already installed (which must carry the same version) cannot be
# found.  In that case the index is read without apt's size check, and the
# i386 packages Wine needs from it are fetched and installed as local files.
set -e
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
[ -x /usr/lib/wine/wine ] && exit 0
$SUDO dpkg --add-architecture i386
log=$(mktemp)
$SUDO apt-get update -qq >"$log" 2>&1 || true
if $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null 2>&1; then
    rm -f "$log"
    exit 0
fi
failed=$(sed -n 's/^E: Failed to fetch \(http[^ ]*binary-i386\/Packages\.[a-z]*\) .*/\1/p' "$log")
rm -f "$log"
if [ -z "$failed" ]; then
    echo "install-wine32.sh: wine32:i386 does not install and no index failed" >&2
    $SUDO apt-get install -y --no-install-recommends wine32:i386
    exit 1
fi
work=$(mktemp -d)
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances wine32:i386 2>/dev/null |
    sed -n 's/^\([a-z0-9][^ ]*\)$/\1/p' | sed 's/:i386$//' | sort -u >"$work/needed"
for index in $failed; do
    base=${index%%/dists/*}
    curl -fsS "$index" -o "$work/index"
    case "$index" in
    *.xz) xz -dc "$work/index" ;;
    *.gz) gzip -dc "$work/index" ;;
    *) cat "$work/index" ;;
    esac | awk '/^Package:/ { name = $2 } /^Version:/ { version = $2 }
                /^Filename:/ { print name, version, $2 }' |
        sort -k1,1 | join - "$work/needed" | while read -r name version file; do
        # Only the twin of the version the other architecture will have.
        twin=$(apt-cache policy "$name:$(dpkg --print-architecture)" | awk '/Candidate:/ { print $2 }')
        [ "$twin" = "$version" ] || continue
        echo "install-wine32.sh: $name $version from the index apt dropped" >&2
        curl -fsS "$base/$file" -o "$work/${file##*/}"
    done
done
$SUDO apt-get install -y -qq --no-install-recommends wine32:i386 "$work"/*.deb >/dev/null
rm -rf "$work"
