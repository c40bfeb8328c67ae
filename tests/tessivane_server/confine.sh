#!/bin/sh
# Runs a command confined the way tessivane_server.service confines the daemon, without systemd:
# its own mount namespace in which every mount is read-only except the given writable folders
# (ProtectSystem=strict with ReadWritePaths=) and the kernel's /proc, /sys and /dev, the given
# inaccessible folders covered by an empty one that nobody without capabilities may open
# (InaccessiblePaths=-; one that does not exist is skipped), then no new privileges
# (NoNewPrivileges=) and an empty capability bounding set (CapabilityBoundingSet=).
# The network namespace is the caller's: the test runs in a private one with its client.
#   confine.sh [--inaccessible DIR]... WRITABLE_DIR... -- COMMAND [ARG...]          (as root)
set -eu
if [ "${CONFINE_INSIDE:-}" != 1 ]; then
  CONFINE_INSIDE=1 exec unshare --mount --propagation private -- /bin/sh "$0" "$@"
fi

inaccessible=""
while [ "${1:-}" = --inaccessible ] && [ $# -gt 1 ]; do
  inaccessible="$inaccessible
$2"
  shift 2
done
writable=""
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  mount --bind "$1" "$1"
  writable="$writable
$1"
  shift
done
[ $# -gt 1 ] || {
  echo "usage: confine.sh [--inaccessible DIR]... WRITABLE_DIR... -- COMMAND [ARG...]" >&2
  exit 2
}
shift

# Over the writable folders, which may hold them.
printf '%s\n' "$inaccessible" | while IFS= read -r dir; do
  [ -z "$dir" ] || [ ! -d "$dir" ] || mount -t tmpfs -o ro,mode=000,nosuid,nodev,noexec none "$dir"
done

# Field 5 of mountinfo is the mount point. A point with an octal escape (a blank in its name)
# stays as it is: that weakens the confinement, never the daemon.
for point in $(awk '{ print $5 }' /proc/self/mountinfo | sort -u); do
  case "$point" in
    /proc | /proc/* | /sys | /sys/* | /dev | /dev/* | *\\*) continue ;;
  esac
  if printf '%s\n' "$writable" | grep -qxF -- "$point"; then
    continue
  fi
  mount -o remount,bind,ro "$point"
done

exec setpriv --no-new-privs --bounding-set -all --inh-caps -all -- "$@"
