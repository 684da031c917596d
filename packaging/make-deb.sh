#!/usr/bin/env bash
# make-deb.sh DEB BUILD_DIR VERSION EPOCH COPYRIGHT NOTICES MAINTAINER
# The Debian package of the Linux tools: what "cmake --install BUILD_DIR"
# puts under /usr (stripped), the copyright file, the third-party notices
# (compressed, as Debian keeps documentation), a changelog, md5sums, and
# the dependencies dpkg-shlibdeps finds. Every file is dated EPOCH, owned by
# root with fixed permissions, and dpkg-deb stores them sorted with one
# compressor thread, so two builds of one commit give the same package.
set -euo pipefail
deb=$1 build=$2 version=$3 epoch=$4 copyright=$5 notices=$6 maintainer=$7
package=vykuu
export LC_ALL=C TZ=UTC SOURCE_DATE_EPOCH=$epoch

work=$(mktemp -d "$deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
umask 022

DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null
# As Debian strips its own: no compiler notes either.
strip --remove-section=.comment --remove-section=.note "$root"/usr/bin/*

doc=$root/usr/share/doc/$package
mkdir -p "$doc"
cp -- "$copyright" "$doc/copyright"
gzip -9n <"$notices" >"$doc/THIRD-PARTY-NOTICES.txt.gz"
{
  echo "$package ($version) unstable; urgency=medium"
  echo
  echo "  * Built from the VYK_UU sources at version $version."
  echo
  echo " -- $maintainer  $(date -R -u -d "@$epoch")"
} | gzip -9n >"$doc/changelog.gz"

# Dependencies of the installed programs, as Debian's own packages state them.
mkdir -p "$work/shlibs/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$root"/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root"/usr/bin/*

# Installed-Size in KiB from the files' own sizes, not the disk's blocks.
size=$(find "$root" -type f -printf '%s\n' | awk '{ k += int(($1 + 1023) / 1024) } END { print k + 0 }')
mkdir -p "$root/DEBIAN"
(cd "$root" && find usr -type f | sort | xargs md5sum) >"$root/DEBIAN/md5sums"
cat >"$root/DEBIAN/control" <<CONTROL
Package: $package
Version: $version
Architecture: $(dpkg --print-architecture)
Maintainer: $maintainer
Installed-Size: $size
Depends: $depends
Section: utils
Priority: optional
Description: USB-C PD controller firmware tool working through the EC
 vykuu reads and writes the firmware of a notebook's two USB-C Power
 Delivery controllers (Cypress CCG5). It never talks to the controllers:
 it reaches the embedded controller's RAM through the Super I/O ports
 0x4E/0x4F and drives the command mailbox there, and the EC does the PD
 work. Writes are read back and compared.
 .
 vyksimctl prepares and inspects a simulated notebook folder, which
 vykuu --sim uses in place of real ports.
CONTROL
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$epoch" {} +

dpkg-deb --root-owner-group --threads-max=1 -Zxz --build "$root" "$deb.tmp" >/dev/null
rm -f -- "$(dirname "$deb")/${package}_"*.deb
mv -- "$deb.tmp" "$deb"
