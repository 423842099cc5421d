#!/bin/sh
# SPDX-License-Identifier: AGPL-3.0-or-later
# Packs this build into the Debian package and checks what a user gets from it: the control
# fields, the layout of its files, its metadata, lintian's verdict, and the programs themselves
# run from the unpacked tree through the links in usr/bin.
#
# Usage: deb_package_test.sh CPACK BUILD_DIR VERSION
# Exits 77 (skipped) when a packaging tool is missing.
set -eu

cpack=$1
build=$2
version=$3

for tool in dpkg-deb dpkg-shlibdeps file readelf desktop-file-validate appstreamcli lintian \
    hardening-check; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is missing; scripts/install-deps.sh installs the packaging tools"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/deb_package_test.XXXXXX")
frontend=""
cleanup() {
    if [ -n "$frontend" ]; then kill "$frontend" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# --- pack -------------------------------------------------------------------------------------
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
}
arch=$(dpkg --print-architecture)
deb="$work/out/pagemint_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
    ls "$work/out"
    echo "FAIL: no package named pagemint_${version}_${arch}.deb"
    exit 1
fi

# --- control fields ---------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = pagemint ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)', not graphics"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
# No maintainer scripts: nothing needs running at installation, and a postrm would keep the
# package's record after apt-get remove until it is purged.
dpkg-deb -e "$deb" "$work/control"
[ "$(ls "$work/control" | tr '\n' ' ')" = "control md5sums " ] ||
    fail "control files beyond control and md5sums: $(ls "$work/control")"
[ "$(field Description | wc -l)" -ge 3 ] || fail "Description has no extended text"

depends=$(field Depends)
case "$depends" in
*render* | *pagemint*) fail "Depends names the package's own private library: $depends" ;;
esac
# What no library lookup finds: the engine's default CMYK profile, and Qt's Wayland plugin.
names() { printf '%s\n' "$1" | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//'; }
names "$depends" | grep -qx libgs-common || fail "Depends lacks libgs-common: $depends"
names "$(field Recommends)" | grep -qx qt6-wayland ||
    fail "Recommends lacks qt6-wayland: '$(field Recommends)'"
dpkg-deb -x "$deb" "$work/root"
root="$work/root"
# Every library the package's programs load, other than its own, must come from a package that
# Depends names.
find "$root" -type f -exec sh -c 'file "$1" | grep -q ELF' _ {} \; -print >"$work/elf"
[ -s "$work/elf" ] || fail "no ELF file in the package"
while read -r elf; do
    readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
done <"$work/elf" | sort -u >"$work/needed"
while read -r soname; do
    [ "$soname" = librender.so ] && continue
    path=$(ldconfig -p | awk -v n="$soname" '$1 == n { print $NF; exit }')
    if [ -z "$path" ]; then
        fail "cannot find $soname on this system"
        continue
    fi
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")" 2>/dev/null || true)
    owner=${owner%%:*}
    if [ -z "$owner" ]; then
        fail "no installed package holds $path"
        continue
    fi
    names "$depends" | grep -qx "$owner" ||
        fail "$soname comes from $owner, which Depends does not name"
done <"$work/needed"

# --- layout -----------------------------------------------------------------------------------
(cd "$root" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort) >"$work/files"
for expected in \
    usr/bin/pagemint usr/bin/rastool \
    usr/lib/pagemint/pagemint usr/lib/pagemint/rastool usr/lib/pagemint/help.htm \
    usr/lib/pagemint/lib/librender.so \
    usr/share/applications/io.github.pagemint.Pagemint.desktop \
    usr/share/metainfo/io.github.pagemint.Pagemint.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/pagemint.svg \
    usr/share/man/man1/pagemint.1.gz usr/share/man/man1/rastool.1.gz \
    usr/share/doc/pagemint/copyright usr/share/doc/pagemint/changelog.gz; do
    grep -qx "$expected" "$work/files" || fail "the package lacks $expected"
done
grep -v '^usr/' "$work/files" >"$work/stray" && fail "files outside usr/: $(cat "$work/stray")"
grep '^usr/lib/' "$work/files" | grep -Ev '^usr/lib/pagemint/(lib/)?[^/]*$' >"$work/stray" &&
    fail "files in usr/lib outside its private folder: $(cat "$work/stray")"
grep -E '(^usr/include/|\.a$|\.so\.[0-9])' "$work/files" >"$work/stray" &&
    fail "development files or versioned libraries: $(cat "$work/stray")"
# usr/bin: only links into the private folder, or executables.
for entry in "$root"/usr/bin/*; do
    name=${entry##*/}
    if [ -L "$entry" ]; then
        target=$(readlink "$entry")
        [ "$target" = "../lib/pagemint/$name" ] || fail "usr/bin/$name links to $target"
        [ -f "$entry" ] && [ -x "$entry" ] || fail "usr/bin/$name does not lead to an executable"
    elif [ ! -f "$entry" ] || [ ! -x "$entry" ]; then
        fail "usr/bin/$name is neither a link nor an executable"
    fi
done
for elf in "$root"/usr/lib/pagemint/pagemint "$root"/usr/lib/pagemint/rastool; do
    runpath=$(readelf -d "$elf" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [ "$runpath" = '$ORIGIN/lib' ] || fail "${elf##*/} searches libraries in '$runpath'"
done
# Built with Debian's hardening flags: stack protector, fortified C library calls, read-only
# relocations bound at start-up. No program of Debian 12 carries control-flow marking (its C
# library's start-up files have none), so that check is left out. The front-end's own calls
# into the C library have sizes that are either constant and in bounds or unknown to the
# compiler, so none becomes a checked call and the checker cannot see the fortification there;
# the engine and the render library, built with the same flags, show it.
hardening-check --nocfprotection "$root/usr/lib/pagemint/rastool" \
    "$root/usr/lib/pagemint/lib/librender.so" >"$work/hardening.log" 2>&1 || {
    cat "$work/hardening.log"
    fail "hardening-check finds the engine or the render library unprotected"
}
hardening-check --nocfprotection --nofortify "$root/usr/lib/pagemint/pagemint" \
    >"$work/hardening.log" 2>&1 || {
    cat "$work/hardening.log"
    fail "hardening-check finds the front-end unprotected"
}

# --- metadata ---------------------------------------------------------------------------------
desktop="$root/usr/share/applications/io.github.pagemint.Pagemint.desktop"
metainfo="$root/usr/share/metainfo/io.github.pagemint.Pagemint.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the desktop entry"
# Docks tie a window to its entry by the entry's name (the Wayland app id) or, on X11, by the
# window's class: Qt gives the class the executable's name.
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[ -n "$wm_class" ] && [ "$wm_class" = "${exec_name##*/}" ] ||
    fail "StartupWMClass is '$wm_class', not the class of $exec_name's windows"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 || {
    cat "$work/appstream.log"
    fail "appstreamcli refuses the metainfo"
}
icon=$(sed -n 's/^Icon=//p' "$desktop")
ls "$root"/usr/share/icons/hicolor/*/apps/"$icon".* >/dev/null 2>&1 ||
    fail "the desktop entry's icon '$icon' is not in the package"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
changelog_version=$(gzip -dc "$root/usr/share/doc/pagemint/changelog.gz" | sed -n '1s/^pagemint (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] || fail "the changelog's last entry is '$changelog_version'"
# The manual page names every option that rastool --help lists.
"$root/usr/bin/rastool" --help | grep -oE '^ +-[-a-z]+' | sed 's/^ *//' | sort -u >"$work/options"
[ "$(wc -l <"$work/options")" -ge 10 ] || fail "rastool --help lists too few options"
gzip -dc "$root/usr/share/man/man1/rastool.1.gz" | sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' |
    sed 's/\\-/-/g' >"$work/rastool-options.1"
while read -r option; do
    grep -q -- "^\.[BI]*R* *$option\b" "$work/rastool-options.1" ||
        fail "rastool(1) does not describe $option among its options"
done <"$work/options"

lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || {
    cat "$work/lintian.log"
    fail "lintian finds errors or warnings"
}

# --- the programs, run through the links ------------------------------------------------------
unset LD_LIBRARY_PATH
version_line=$("$root/usr/bin/rastool" --version) || fail "rastool --version fails"
[ "$version_line" = "rastool $version" ] || fail "rastool --version prints '$version_line'"
# Through the link, the loader must still find the render library beside the real executable,
# not any other copy.
loaded() { LD_DEBUG=libs "$@" 2>&1 >/dev/null | sed -n 's/.*calling init: \(.*librender.so\)$/\1/p'; }
[ "$(loaded "$root/usr/bin/rastool" --version)" = "$root/usr/lib/pagemint/lib/librender.so" ] ||
    fail "rastool loads the render library from '$(loaded "$root/usr/bin/rastool" --version)'"

# A one-page document of 200 x 100 points with a blue square, written with exact offsets.
pdf="$work/one page.pdf"
printf '%%PDF-1.4\n' >"$pdf"
offsets=""
object() {
    offsets="$offsets $(wc -c <"$pdf")"
    printf '%s 0 obj\n%s\nendobj\n' "$1" "$2" >>"$pdf"
}
content='0 0 1 rg 20 20 60 60 re f'
object 1 '<< /Type /Catalog /Pages 2 0 R >>'
object 2 '<< /Type /Pages /Kids [3 0 R] /Count 1 >>'
object 3 '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>'
object 4 "<< /Length ${#content} >>
stream
$content
endstream"
xref=$(wc -c <"$pdf")
printf 'xref\n0 5\n0000000000 65535 f \n' >>"$pdf"
for offset in $offsets; do printf '%010d 00000 n \n' "$offset" >>"$pdf"; done
printf 'trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n%s\n%%%%EOF\n' "$xref" >>"$pdf"

mkdir "$work/images"
"$root/usr/bin/rastool" -i "$pdf" -o "$work/images/page.png" -r 72x144 2>"$work/rastool.log" ||
    fail "the one-page conversion ends with status $?: $(cat "$work/rastool.log")"
[ -s "$work/rastool.log" ] && fail "the conversion printed: $(cat "$work/rastool.log")"
[ "$(ls "$work/images")" = page.png ] || fail "the conversion wrote: $(ls "$work/images")"
# PNG signature, then the header's width and height: 200 x 100 points at 72 x 144 dpi.
header=$(od -An -tx1 -N24 "$work/images/page.png" | tr -d ' \n')
[ "$header" = 89504e470d0a1a0a0000000d49484452000000c8000000c8 ] ||
    fail "page.png is not a 200 x 200 PNG image: $header"

# The front-end, started through its link, loads its libraries and stays in its window. It
# parses no document itself: the render library, and the PDF library in it, are rastool's alone.
readelf -d "$root/usr/lib/pagemint/pagemint" | grep -q 'NEEDED.*librender' &&
    fail "pagemint links the render library"
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" "$root/usr/bin/pagemint" \
    >"$work/pagemint.log" 2>&1 &
frontend=$!
sleep 2
if kill -0 "$frontend" 2>/dev/null; then
    mapped=$(sed -n 's/.* \(\/.*librender.so\)$/\1/p' "/proc/$frontend/maps" | sort -u)
    [ -z "$mapped" ] || fail "pagemint loads the render library from '$mapped'"
    kill "$frontend"
    wait "$frontend" 2>/dev/null || true
else
    wait "$frontend" 2>/dev/null || true
    fail "pagemint ended at start-up: $(cat "$work/pagemint.log")"
fi
frontend=""

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "pagemint_${version}_${arch}.deb: $(wc -l <"$work/files") files, all checks passed"
