#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian machine, and
# fetches the Debian kernel the real-kernel test boots under QEMU.
# Idempotent and without prompts; does nothing when all is there already.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  mingw-w64 wine wine64 wine32:i386
  xvfb x11-utils imagemagick xxd
  osslsigncode openssl
  qemu-system-x86 busybox-static cpio
)
# Packaging and its checks: these install without their recommendations
# (diffoscope's alone would bring hundreds of packages).
lean_packages=(
  dpkg-dev lintian help2man zip unzip bash-completion icoutils diffoscope-minimal binutils-multiarch cmark-gfm
)

missing=()
lean_missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
for p in "${lean_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || lean_missing+=("$p")
done

# A mirror caught mid-sync fails an index; the lists already here still
# name the packages, and an install that truly needs a new list fails itself.
update() { $sudo apt-get update -qq || echo "setup: apt-get update failed; going on with the package lists as they are" >&2; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# While a mirror syncs, one suite's index can lag the other's for days: the
# i386 halves of Multi-Arch: same libraries then come from the main suite and
# the amd64 halves are wanted at the security suite's newer versions, which
# apt cannot pair. Preferring the release's main suite pairs them; any other
# failure fails this second try too, with apt's own message.
install() {
  $sudo apt-get install -y -qq "$@" >/dev/null && return 0
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  echo "setup: the install failed; trying once more with the $codename main suite preferred (a mirror may be mid-sync)" >&2
  $sudo apt-get install -y -qq -t "$codename" "$@" >/dev/null
}
export DEBIAN_FRONTEND=noninteractive
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  update
  updated=1
  install "${missing[@]}"
  echo "setup: done"
fi
if [ ${#lean_missing[@]} -gt 0 ]; then
  echo "setup: installing ${lean_missing[*]}"
  [ "$updated" -eq 1 ] || update
  updated=1
  install --no-install-recommends "${lean_missing[@]}"
  echo "setup: done"
fi

# The kernel of the package linux-image-amd64 depends on, downloaded (not
# installed: nothing goes to /boot) and its image extracted into
# build/kernel/boot.
kernel_dir=build/kernel
if ! ls "$kernel_dir"/boot/vmlinuz-* >/dev/null 2>&1; then
  [ "$updated" -eq 1 ] || update
  image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  echo "setup: fetching $image into $kernel_dir"
  rm -rf "$kernel_dir"
  mkdir -p "$kernel_dir"
  (cd "$kernel_dir" && apt-get download -qq "$image" 2>/dev/null)
  dpkg-deb --fsys-tarfile "$kernel_dir"/"$image"_*.deb | tar -x -C "$kernel_dir" ./boot
  rm -f "$kernel_dir"/*.deb
fi
