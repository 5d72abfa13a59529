#!/usr/bin/env bash
# Checks a commit as a new user meets it: on a fresh, minimal Debian 12 root
# (mmdebstrap's minbase variant, with git), a clone of the commit runs
# ./quickstart.sh and then the normal suite of ./run-tests.sh, with nothing
# installed but what setup.sh installs. The root runs under chroot in a
# private mount namespace (/proc, /dev and a tmpfs /tmp), so nothing stays
# mounted. The root's tarball and the downloaded packages are cached in
# CACHE_DIR, so later runs download only what changed.
#
# Usage: tools/fresh_machine_check.sh [COMMIT]   (default: HEAD; needs root)
# CACHE_DIR defaults to /var/cache/unpak-fresh-machine.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$src" rev-parse --verify "${1:-HEAD}^{commit}")
cache=${CACHE_DIR:-/var/cache/unpak-fresh-machine}
tarball=$cache/bookworm-minbase.tar

fail() { echo "fresh-machine: $*" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || fail "needs root (chroot, mounts)"
command -v mmdebstrap >/dev/null || fail "needs mmdebstrap (apt-get install mmdebstrap)"

mkdir -p "$cache/apt-archives/partial"
if [ ! -f "$tarball" ]; then
  echo "fresh-machine: making a minimal Debian 12 root in $tarball"
  # The host's package sources, and its apt options for them, so the root
  # reaches the same servers apt does here.
  sources=/etc/apt/sources.list.d/debian.sources
  [ -f "$sources" ] || sources=http://deb.debian.org/debian
  mmdebstrap --quiet --format=tar --variant=minbase --include=git,ca-certificates \
    --aptopt='Acquire::Check-Valid-Until "false"' --aptopt='Acquire::Check-Date "false"' \
    bookworm "$tarball.partial" "$sources"
  mv "$tarball.partial" "$tarball"
fi

root=$(mktemp -d /var/tmp/unpak-fresh-machine-XXXXXX)
trap 'rm -rf --one-file-system "$root"' EXIT
tar -C "$root" -xf "$tarball"
git clone --quiet --no-local --no-checkout "$src" "$root/root/unpak"
git -C "$root/root/unpak" fetch --quiet "$src" "$commit"
git -C "$root/root/unpak" checkout --quiet --detach "$commit"
cp /etc/resolv.conf "$root/etc/resolv.conf"

echo "fresh-machine: commit $commit on a fresh Debian 12 root"
# The mounts live in this namespace only and go with it.
unshare --mount --propagation private /bin/bash -euo pipefail -c '
  root=$1 cache=$2 conformance=$3
  # The root as a mount point of its own, so that tests can make private
  # mount namespaces (a tmpfs for a full disk) inside the chroot too.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/tmp"
  mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
  # The shared conformance streams, read-only, where the tests look for them
  # beside the checkout, when this machine has them.
  if [ -d "$conformance" ]; then
    mkdir -p "$root/root/shared/conformance"
    mount --bind -o ro "$conformance" "$root/root/shared/conformance"
  fi
  chroot "$root" /bin/bash -euo pipefail -c "
    cd /root/unpak
    ./quickstart.sh
    ./run-tests.sh normal"
' fresh-machine "$root" "$cache" "$src/../shared/conformance"
echo "fresh-machine: passed"
