#!/usr/bin/env bash
# Runs a command in a clean Debian 12 root, as a user's fresh machine has it: nothing but
# apt, git and sudo, with this machine's apt sources. The committed checkout (HEAD) is cloned
# to /src/vantorel inside the root, and CMD runs there as root through bash with errexit
# (a failing line of CMD ends it).
#   scripts/in-clean-root.sh [--share DIR] [--no-cache] CMD
#     --share DIR   DIR of this machine appears read-write as /share in the root (to bring a
#                   package in or take one out)
#     --no-cache    lend neither this machine's compiler cache nor its package cache
# The root gets its own device nodes (made by mmdebstrap), its own proc and sys, a new devpts
# and a tmpfs on /dev/shm; the machine's /dev is never mounted into it, so a test that
# removes a device file removes the root's. Unless --no-cache is given, this machine's
# ccache folder and apt's folder of downloaded packages are lent to the root, so repeated
# runs download and rebuild little; a run without them fetches and builds everything. Every exit path ends the root's processes, unmounts and removes it.
# Needs root and mmdebstrap.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD

share="" cache=1
while [ $# -gt 0 ]; do
    case $1 in
    --share) share=$(realpath "$2"); shift 2 ;;
    --no-cache) cache=0; shift ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--share DIR] [--no-cache] CMD" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "$0: must run as root (it makes a root with mmdebstrap)" >&2; exit 2; }
command -v mmdebstrap >/dev/null || { echo "$0: needs mmdebstrap (apt-get install mmdebstrap)" >&2; exit 2; }

root=$(mktemp -d /tmp/vantorel-root.XXXXXX)
mounts=()

# Processes left running inside the root (a display server, a bus) hold its mounts.
end_root_processes() {
    local p signal
    for signal in TERM KILL; do
        for p in /proc/[0-9]*; do
            [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -s "$signal" "${p#/proc/}" 2>/dev/null
        done
        sleep 1
    done
    return 0
}

clean_up() {
    local i
    end_root_processes
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
    done
    # Never remove through a mount that is still there.
    if findmnt -rn -o TARGET | grep -q "^$root"; then
        echo "in-clean-root: $root still has mounts; left in place" >&2
    else
        rm -rf --one-file-system "$root"
    fi
}
trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in() { # TYPE SOURCE TARGET [OPTIONS]
    mkdir -p "$3"
    mount -t "$1" ${4:+-o "$4"} "$2" "$3"
    mounts+=("$3")
}

# This machine's apt sources and settings (a snapshot mirror needs Check-Valid-Until off).
apt_opts=()
for f in /etc/apt/apt.conf.d/*; do
    grep -qs 'Check-Valid-Until\|Acquire::http' "$f" && apt_opts+=(--aptopt="$f")
done
sources=/etc/apt/sources.list
[ -s /etc/apt/sources.list.d/debian.sources ] && sources=/etc/apt/sources.list.d/debian.sources
# The root is thrown away after the run: dpkg need not sync every file it unpacks.
mmdebstrap --quiet --variant=apt --include=git,sudo,ca-certificates "${apt_opts[@]}" \
    --dpkgopt=force-unsafe-io \
    bookworm "$root" "$sources"

cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
mount_in proc proc "$root/proc"
mount_in sysfs sys "$root/sys"
mount_in devpts devpts "$root/dev/pts" newinstance,ptmxmode=0666,mode=0620
mount_in tmpfs tmpfs "$root/dev/shm" mode=1777
lend() { # FOLDER_HERE FOLDER_IN_ROOT
    mkdir -p "$1" "$root$2"
    mount --bind "$1" "$root$2"
    mounts+=("$root$2")
}
[ -z "$share" ] || lend "$share" /share
if [ "$cache" = 1 ]; then
    lend /var/cache/apt/archives /var/cache/apt/archives
    command -v ccache >/dev/null && lend "$(ccache -k cache_dir)" /root/.cache/ccache
fi

git clone --quiet --no-hardlinks "$checkout" "$root/src/vantorel"
echo "in-clean-root: $(git -C "$checkout" log -1 --format='%h %s') in a clean Debian 12 root"
status=0
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'set -euo pipefail; cd /src/vantorel; eval "$1"' bash "$*" || status=$?
exit $status
