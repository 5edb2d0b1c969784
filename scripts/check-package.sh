#!/usr/bin/env bash
# Builds the Debian package from an already built tree, installs it with apt
# and uses the installed programs as a user would: the versions, the man
# pages, the desktop entry and the metainfo, a measurement of a simulated
# video, a save into the user's data folder, and the window started on that
# video. Prints every check that fails and exits non-zero if any did.
#
# Usage: scripts/check-package.sh BUILD_DIR      (as root, or with sudo)
# Leaves the package installed; `apt-get remove -y corvane` takes it away.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: $0 BUILD_DIR   (a configured and built Corvane tree)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "check-package.sh installs packages: run it as root or with sudo" >&2
        exit 2
    fi
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

failures=()
fail() {
    echo "FAILED: $*" >&2
    failures+=("$*")
}
pass() { echo "ok: $*"; }

# Packages the checks use: cpack's dependency reader, the man page viewer,
# and the validators of the desktop entry and the metainfo.
need=(dpkg-dev file man-db desktop-file-utils appstream)
missing=()
for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
        { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; } ||
        { echo "cannot install ${missing[*]}" >&2; exit 1; }
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $build/CMakeCache.txt" >&2; exit 1; }

# ---- the package
rm -f "$build"/corvane_*.deb
if ! (cd "$build" && cpack -G DEB >cpack.log 2>&1); then
    cat "$build/cpack.log" >&2
    echo "FAILED: cpack -G DEB in $build" >&2
    exit 1
fi
debs=("$build"/corvane_*.deb)
[ -f "${debs[0]}" ] || { echo "FAILED: cpack made no corvane_*.deb" >&2; exit 1; }
pass "built $(basename "${debs[0]}")"
if ! (cd "$build" && $SUDO apt-get install -y -qq --reinstall "./$(basename "${debs[0]}")" >apt.log 2>&1); then
    cat "$build/apt.log" >&2
    echo "FAILED: apt-get install ./$(basename "${debs[0]}")" >&2
    exit 1
fi
pass "installed with apt-get"

# Everything below runs the installed files, from a folder of its own.
work=$(mktemp -d /tmp/corvane-check-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
export PATH=/usr/bin:/bin
unset XDG_DATA_HOME

# ---- versions
for prog in corvane corvane-measure corvane-sim; do
    where=$(command -v "$prog")
    if [ "$where" != "/usr/bin/$prog" ]; then
        fail "$prog is not installed in /usr/bin (found: '${where}')"
        continue
    fi
    # No display: the version must come without one.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prog" --version 2>&1)
    if [ "$out" = "$prog $version" ]; then pass "$prog --version"; else
        fail "$prog --version printed '$out', not '$prog $version'"
    fi
done

# ---- man pages
for page in corvane corvane-measure corvane-sim; do
    text=$(LC_ALL=C MANPAGER=cat MANWIDTH=80 man "$page" 2>&1)
    if [ $? -eq 0 ] && grep -q "$page" <<<"$text" && [ "$(wc -l <<<"$text")" -gt 10 ]; then
        pass "man $page"
    else
        fail "man $page does not show the page: $(head -3 <<<"$text")"
    fi
done
if LC_ALL=C MANPAGER=cat MANWIDTH=80 man corvane-measure 2>/dev/null | grep -q -- "--primary"; then
    pass "man corvane-measure lists the options"
else
    fail "man corvane-measure does not list --primary"
fi

# ---- desktop entry, icon, metainfo
if out=$(desktop-file-validate /usr/share/applications/corvane.desktop 2>&1); then
    pass "desktop-file-validate"
else
    fail "desktop-file-validate: $out"
fi
metainfo=(/usr/share/metainfo/*orvane*.metainfo.xml)
if [ -f "${metainfo[0]}" ] && out=$(appstreamcli validate --no-net "${metainfo[0]}" 2>&1); then
    pass "appstreamcli validate --no-net"
else
    fail "appstreamcli validate --no-net ${metainfo[0]}: $out"
fi
for icon in /usr/share/icons/hicolor/scalable/apps/corvane.svg \
            /usr/share/icons/hicolor/256x256/apps/corvane.png; do
    [ -s "$icon" ] && pass "icon $icon" || fail "icon $icon is missing"
done

# ---- a measurement of a simulated video with the installed tools
truth=$(corvane-sim sim.avi --frames 120 --separation 12 --pa 60 --dec 30 --scale 1.5 \
        --sky 2 --noise 1.5 --seeing 3 --seed 5 --per-frame 2>&1)
if [ $? -ne 0 ] || [ ! -s sim.avi ]; then
    fail "corvane-sim could not write a video: $truth"
else
    pass "corvane-sim wrote a video"
    read -r _ _ px py sx sy < <(grep '^frame_0:' <<<"$truth")
    click() { printf '%.0f,%.0f' "$1" "$2"; }
    args=(sim.avi --primary "$(click "$px" "$py")" --secondary "$(click "$sx" "$sy")" --dec "+30 00 00")
    home="$work/home"
    mkdir -p "$home"
    out=$(HOME="$home" corvane-measure "${args[@]}" --save --designation "CHECK 1" 2>err.txt)
    status=$?
    if [ $status -ne 0 ]; then
        fail "corvane-measure exited with $status: $(cat err.txt)"
    else
        sep=$(sed -n 's/^separation: //p' <<<"$out")
        pa=$(sed -n 's/^position angle: //p' <<<"$out")
        want_sep=$(sed -n 's/^separation_arcsec: //p' <<<"$truth")
        want_pa=$(sed -n 's/^position_angle_deg: //p' <<<"$truth")
        # A sanity bound, not an accuracy test: 3 % and 2 degrees.
        if awk -v s="$sep" -v p="$pa" -v S="$want_sep" -v P="$want_pa" \
               'BEGIN { d = p - P; if (d < 0) d = -d; e = s - S; if (e < 0) e = -e;
                        exit !(s != "" && p != "" && e <= 0.03 * S && d <= 2) }'; then
            pass "measured separation $sep (true $want_sep), position angle $pa (true $want_pa)"
        else
            fail "measured separation '$sep' and position angle '$pa'; truth $want_sep and $want_pa"
        fi
        saved="$home/.local/share/corvane/results.txt"
        if [ "$(grep -c 'CHECK 1' "$saved" 2>/dev/null)" = 1 ] && [ "$(wc -l <"$saved")" = 3 ]; then
            pass "the save landed in $saved"
        else
            fail "no results file with one line in $saved"
        fi
        grep -qF "Results saved to $saved" err.txt && pass "the tool said where it saved" ||
            fail "the tool did not say where it saved: $(cat err.txt)"
        [ ! -e /usr/bin/results.txt ] || fail "a results file was written into /usr/bin"
    fi
    # XDG_DATA_HOME, when set, is where the save goes.
    if XDG_DATA_HOME="$work/data" HOME="$home" corvane-measure "${args[@]}" --save \
           >/dev/null 2>err.txt && [ -s "$work/data/corvane/results.txt" ]; then
        pass "with XDG_DATA_HOME the save landed in $work/data/corvane"
    else
        fail "with XDG_DATA_HOME=$work/data no results file in $work/data/corvane: $(cat err.txt)"
    fi

    # The window starts on the video and keeps running until it is stopped.
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen HOME="$home" \
        timeout 5 corvane sim.avi >window.txt 2>&1
    status=$?
    if [ $status -eq 124 ]; then pass "the window started on the video"; else
        fail "the window ended with status $status: $(head -5 window.txt)"
    fi
fi

echo
if [ ${#failures[@]} -gt 0 ]; then
    echo "check-package: ${#failures[@]} check(s) failed:" >&2
    printf '  - %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "check-package: the installed package works"
