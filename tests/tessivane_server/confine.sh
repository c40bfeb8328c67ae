#!/bin/sh
# Runs a command confined the way tessivane_server.service confines the daemon, without systemd:
# its own mount namespace in which every mount is read-only except the given writable folders
# (ProtectSystem=strict with ReadWritePaths=) and the kernel's /proc, /sys and /dev, then no new
# privileges (NoNewPrivileges=) and an empty capability bounding set (CapabilityBoundingSet=).
# The network namespace is the caller's: the test runs in a private one with its client.
#   confine.sh WRITABLE_DIR... -- COMMAND [ARG...]          (as root)
set -eu
if [ "${CONFINE_INSIDE:-}" != 1 ]; then
  CONFINE_INSIDE=1 exec unshare --mount --propagation private -- /bin/sh "$0" "$@"
fi

writable=""
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  mount --bind "$1" "$1"
  writable="$writable
$1"
  shift
done
[ $# -gt 1 ] || { echo "usage: confine.sh WRITABLE_DIR... -- COMMAND [ARG...]" >&2; exit 2; }
shift

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
