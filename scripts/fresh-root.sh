#!/usr/bin/env bash
# Runs a command on a brand-new Debian 12 machine: a minimal bookworm root made
# with debootstrap, holding a clean clone of this repository and ../shared
# beside it, as a new user would have them. Nothing installed on this machine
# by hand can help the command inside, so a missing install step fails here.
#
# Usage (as root): scripts/fresh-root.sh [COMMAND]
#   COMMAND runs in the clone's top folder inside the root; the default is
#   `bash .ci/run`, which knows by /etc/corvane-fresh-root that it is inside.
#
# The archive's address and suites come from this machine's own apt sources.
# The bare base (debootstrap and the sources, no packages of ours) is kept as
# a tarball under /var/cache/corvane-fresh-root, so later runs start from it
# in seconds; CORVANE_FRESH_ROOT_NO_CACHE=1 makes it afresh and keeps nothing.
# The root lives in its own mount and PID namespace: no mount and no process
# outlives the run, even when this script is killed.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
cache_dir=/var/cache/corvane-fresh-root

now() { date +%s; }
say() { echo "fresh-root: $*" >&2; }

# --- inside the namespaces: mount, enter the root, run -----------------------
if [ "${1:-}" = "--inside" ]; then
    root="$2"
    shift 2
    mounted=()
    unmount_all() {
        local i
        for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
            umount -l "${mounted[$i]}" 2> /dev/null || true
        done
    }
    trap unmount_all EXIT
    for m in proc sys dev dev/pts dev/shm; do
        [ -e "/$m" ] || continue
        mkdir -p "$root/$m"
        mount --bind "/$m" "$root/$m"
        mounted+=("$root/$m")
    done
    # The environment is cleared: the command sees what a fresh login would.
    rc=0
    chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        CI="${CI:-}" \
        /bin/bash -c 'cd /work/corvane && eval "$1"' fresh-root "$*" || rc=$?
    exit "$rc"
fi

if [ "$(id -u)" -ne 0 ]; then
    say "needs root (debootstrap, chroot and mounts)"
    exit 1
fi
command_inside="${*:-bash .ci/run}"
start=$(now)

if ! command -v debootstrap > /dev/null; then
    say "installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap > /dev/null ||
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap; }
fi

# --- this machine's Debian sources: "URI SUITE COMPONENTS" per line ----------
debian_sources() {
    {
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            awk '$1 == "deb" {
                    i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                    uri = $i; suite = $(i + 1); comps = ""
                    for (j = i + 2; j <= NF; j++) comps = comps " " $j
                    print uri, suite comps
                 }' "$f"
        done
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            # deb822 stanzas: one per paragraph; every URI with every suite.
            awk 'function flush() {
                     if (types ~ /(^| )deb( |$)/ && enabled != "no")
                         for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
                             print uris[u], suites[s], comps
                     types = ""; nu = 0; ns = 0; comps = ""; enabled = ""
                 }
                 /^[[:space:]]*#/ { next }
                 /^[[:space:]]*$/ { flush(); next }
                 { key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^ +/, "") }
                 key == "types" { types = $0 }
                 key == "uris" { nu = split($0, uris, " ") }
                 key == "suites" { ns = split($0, suites, " ") }
                 key == "components" { comps = $0 }
                 key == "enabled" { enabled = tolower($0) }
                 END { flush() }' "$f"
        done
    } | awk '$2 ~ /^bookworm(-updates|-security)?$/' | sort -u
}
sources="$(debian_sources)"
mirror="$(awk '$2 == "bookworm" { print $1; exit }' <<< "$sources")"
if [ -z "$mirror" ]; then
    say "this machine's apt sources name no bookworm archive; cannot make a Debian 12 root"
    exit 1
fi
say "archive and suites from this machine's apt sources:"
sed 's/^/    /' <<< "$sources" >&2

# --- the base: from the cache, or made afresh ---------------------------------
work="$(mktemp -d /var/tmp/corvane-fresh-root.XXXXXX)"
root="$work/root"
cleanup() { rm -rf --one-file-system "$work"; }
trap cleanup EXIT
mkdir -p "$root"

key="$( (echo "minbase bookworm v1"; echo "$sources") | sha256sum | cut -c1-16)"
cached="$cache_dir/base-$key.tar"
t=$(now)
if [ "${CORVANE_FRESH_ROOT_NO_CACHE:-0}" != "1" ] && [ -f "$cached" ]; then
    tar -xf "$cached" -C "$root"
    say "phase base (from $cached): $(($(now) - t)) s"
else
    debootstrap --variant=minbase bookworm "$root" "$mirror" > "$work/debootstrap.log" 2>&1 ||
        { tail -20 "$work/debootstrap.log" >&2; exit 1; }
    awk '{ $1 = "deb " $1; print }' <<< "$sources" > "$root/etc/apt/sources.list"
    rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/archives/*.deb
    if [ "${CORVANE_FRESH_ROOT_NO_CACHE:-0}" != "1" ]; then
        mkdir -p "$cache_dir"
        tar -cf "$cached.part" -C "$root" . && mv "$cached.part" "$cached"
    fi
    say "phase base (debootstrap): $(($(now) - t)) s"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf" 2> /dev/null || true
echo "Corvane's fresh Debian 12 root: .ci/run runs its checks here" > "$root/etc/corvane-fresh-root"

# --- a clean clone and the shared folder beside it -----------------------------
t=$(now)
mkdir -p "$root/work"
if [ -n "$(git -C "$repo" status --porcelain 2> /dev/null)" ]; then
    say "note: uncommitted changes in $repo are not part of the clean clone"
fi
git clone -q --no-hardlinks "$repo" "$root/work/corvane"
if [ -d "$repo/../shared" ]; then
    cp -r "$repo/../shared" "$root/work/shared"
else
    say "note: $repo/../shared is missing; the root has none either"
fi
say "phase clone: $(($(now) - t)) s"

# --- run it, in namespaces of its own -------------------------------------------
t=$(now)
say "running '$command_inside' inside the root"
rc=0
unshare --mount --pid --fork --kill-child --mount-proc --propagation private \
    bash "$repo/scripts/fresh-root.sh" --inside "$root" "$command_inside" || rc=$?
say "phase inside: $(($(now) - t)) s (exit $rc)"
say "total: $(($(now) - start)) s"
exit "$rc"
