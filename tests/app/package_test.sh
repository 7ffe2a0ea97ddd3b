#!/usr/bin/env bash
# The Debian package, unpacked into a scratch folder rather than installed:
# its dependencies, its contents, and the program, plug-in and frei0r filter
# running from there, with nothing taken from the build tree.
#
#   package_test.sh BUILD_DIR BUILT_VEXOLUMEN
#
# Exit status 77 (skipped) when cpack, dpkg-deb or ffmpeg is missing.
set -euo pipefail
build=$(realpath "$1") built=$(realpath "$2")
for tool in cpack dpkg-deb dpkg-shlibdeps ffmpeg; do
  command -v $tool >/dev/null || { echo "$tool not installed: skipped"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export LC_ALL=C
fail() { echo "$*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >cpack.log 2>&1 || { cat cpack.log; exit 1; }
deb=$(ls pkg/*.deb)
dpkg-deb -x "$deb" root

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libavformat libavcodec libswscale libcairo2 libqt6widgets6 libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
[[ $depends != *libvx* ]] || fail "Depends names the package's own libraries: $depends"
for f in usr/bin/vexolumen usr/lib/vexolumen/vexolumen.plugin/vexolumen.so usr/lib/vexolumen/vexolumen.plugin/Info \
         usr/lib/frei0r-1/vexolumen.so usr/share/kdenlive/effects/frei0r_vexolumen.xml \
         usr/share/shotcut/qml/filters/vexolumen/ui.qml usr/share/man/man1/vexolumen.1.gz usr/share/bash-completion/completions/vexolumen \
         usr/share/doc/vexolumen/README.md; do
  [ -s "root/$f" ] || fail "package lacks $f"
done
# The README's pictures come along, or the packaged copy shows broken links.
for picture in $(grep -oE '\]\(docs/[^)]+\.png\)' root/usr/share/doc/vexolumen/README.md | tr -d '()]'); do
  [ -s "root/usr/share/doc/vexolumen/$picture" ] || fail "package lacks $picture, which its README shows"
done
bash -n root/usr/share/bash-completion/completions/vexolumen || fail "bash completion does not parse"
if command -v man >/dev/null; then
  warnings=$(man --warnings -l root/usr/share/man/man1/vexolumen.1.gz 2>&1 >/dev/null) || true
  [ -z "$warnings" ] || fail "manual page: $warnings"
fi

# Every library and the plug-in must come out of the package.
vx=root/usr/bin/vexolumen
LD_DEBUG=libs,files "$vx" info --config-dir "$work/config" >info.txt 2>ld.txt || { cat info.txt ld.txt; exit 1; }
grep -q '^type     105 (filter)' info.txt || fail "vexolumen info from the package: $(cat info.txt)"
grep -q "file=$work/root/usr/lib/vexolumen/vexolumen.plugin/vexolumen.so .*dynamically loaded" ld.txt ||
  fail "the plug-in was not loaded from the package"
grep -q "trying file=$work/root/usr/bin/../lib/vexolumen/libvxqd.so" ld.txt || fail "libvxqd.so not taken from the package"
! grep -q "file=$build" ld.txt || fail "the packaged program looked in the build tree: $(grep "file=$build" ld.txt | head -1)"

# A render from the package equals one of the build, and changes the picture.
ffmpeg -v error -f lavfi -i "testsrc2=size=64x48:rate=25" -frames:v 3 -c:v png in.mov
ffmpeg -v error -i in.mov -f rawvideo -pix_fmt rgb24 in.rgb
for side in packaged built; do
  v=$vx; [ $side = built ] && v=$built
  "$v" config set --preset swap --config-dir "$work/config" >/dev/null
  "$v" render in.mov $side.mov --codec png --config-dir "$work/config" 2>render.err || { cat render.err; exit 1; }
  ffmpeg -v error -i $side.mov -f rawvideo -pix_fmt rgb24 $side.rgb
done
cmp -s packaged.rgb built.rgb || fail "the packaged render differs from the build's"
cmp -s packaged.rgb in.rgb && fail "the packaged render changed nothing"

# The packaged frei0r filter loads in FFmpeg and its defaults show.
FREI0R_PATH=$work/root/usr/lib/frei0r-1 ffmpeg -v error -i in.mov -vf frei0r=filter_name=vexolumen \
  -f rawvideo -pix_fmt rgb24 frei0r.rgb || fail "FFmpeg cannot run the packaged frei0r filter"
cmp -s frei0r.rgb in.rgb && fail "the packaged frei0r filter changed nothing"
echo "$(basename "$deb"): unpacked, info and render run from it"
