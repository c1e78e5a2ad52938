#!/usr/bin/env bash
# Runs one command inside a lane's chroot. Started by scripts/test-lane through `unshare` as the
# first process of fresh mount and PID namespaces (and a network namespace for offline steps):
# every mount made here belongs to this namespace only, and every process started inside ends
# with it, so an interrupted or failed step can leave neither a mount nor a server behind.
#
# Usage: lane-enter.sh [--offline] [--bind HOST_DIR:CHROOT_DIR[:ro]]... LOWER UPPER WORK ROOT
#                       -- COMMAND...
#   LOWER/UPPER/WORK: the overlay layers of the chroot (the suite's base system below, this
#   chroot's own changes above); ROOT: where it is put together. --offline: the network
#   namespace has only a loopback device, brought up here. --bind: host folders made visible.
set -euo pipefail

network=online
binds=()
while [[ $1 == --* ]]; do
    case $1 in
    --offline) network=offline ;;
    --bind) binds+=("$2") && shift ;;
    esac
    shift
done
lower=$1 upper=$2 work=$3 root=$4
shift 4
[[ ${1:-} == -- ]] && shift

mounted=()
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
    done
    mounted=()
}
# As the namespace's first process this shell receives only signals it handles.
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_at() {
    local target=$1
    shift
    mount "$@" "$target"
    mounted+=("$target")
}

mount_at "$root" -t overlay overlay -o "lowerdir=$lower,upperdir=$upper,workdir=$work"
mount_at "$root/proc" -t proc proc
mount_at "$root/dev/pts" -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts
ln -sf pts/ptmx "$root/dev/ptmx"
mount_at "$root/dev/shm" -t tmpfs -o mode=1777,size=2g tmpfs
mount_at "$root/tmp" -t tmpfs -o mode=1777,size=8g tmpfs
# Device nodes the suite's programs open (debootstrap may not have been allowed to make them);
# fuse for the tests' folder that stops answering, when this machine has it.
for node in null zero full random urandom tty fuse; do
    [[ -c $root/dev/$node || ! -c /dev/$node ]] && continue
    rm -f "$root/dev/$node"
    touch "$root/dev/$node"
    mount_at "$root/dev/$node" --bind "/dev/$node"
done
for bind in "${binds[@]}"; do
    IFS=: read -r host_dir chroot_dir mode <<<"$bind"
    mkdir -p "$root$chroot_dir"
    mount_at "$root$chroot_dir" --bind "$host_dir"
    # A read-only bind mount needs a second step on older kernels.
    [[ $mode == ro ]] && mount -o remount,bind,ro "$root$chroot_dir"
done

# debootstrap writes no /etc/hosts, and a system without one knows no "localhost": the tests'
# TLS servers are reached by that name, as certificates name hosts, not addresses.
[[ -e $root/etc/hosts ]] || printf '127.0.0.1 localhost\n::1 localhost ip6-localhost\n' >"$root/etc/hosts"

if [[ $network == offline ]]; then
    ip link set lo up
else
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
fi

# Not exec: this shell must outlive the command to undo the mounts.
status=0
# A test filter chosen by the caller reaches the tests (set, not empty: an empty one runs none).
passed=()
[[ -n ${GTEST_FILTER:-} ]] && passed+=(GTEST_FILTER="$GTEST_FILTER")
chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive \
    RELAYCAST_LANE_JOBS="${RELAYCAST_LANE_JOBS:-2}" "${passed[@]}" "$@" || status=$?
exit "$status"
