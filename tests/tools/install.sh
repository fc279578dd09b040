#!/bin/sh
# The installed program: `cmake --install` into a temporary DESTDIR with prefix /usr, then
#   tree:    what is there as the desktop and a user meet it, checked by the desktop's own
#            tools (desktop-file-validate, appstreamcli, update-mime-database, gio, man)
#            and run from there;
#   package: the Debian package that cpack makes of it.
#   install.sh tree|package CMAKE CPACK BUILD_DIR VERSION APP_ID MIME_TYPE PALKOR_DEMO
set -eu
mode=$1 cmake=$2 cpack=$3 build=$4 version=$5 id=$6 mime=$7 demo=$8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/root" "$cmake" --install "$build" --prefix /usr > "$work/install.txt" ||
  { cat "$work/install.txt"; fail "cmake --install"; }
usr=$work/root/usr

# Exactly these files: the programs, palkor-render as a helper out of the PATH, and the
# desktop's files, named by the application's id.
cat > "$work/expected.txt" <<LIST
bin/palkor
bin/palkor-cli
libexec/palkor/palkor-render
share/applications/$id.desktop
share/icons/hicolor/128x128/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/palkor-cli.1.gz
share/man/man1/palkor.1.gz
share/metainfo/$id.metainfo.xml
share/mime/packages/$id.xml
LIST
(cd "$usr" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/installed.txt"
LC_ALL=C sort -o "$work/expected.txt" "$work/expected.txt"
diff -u "$work/expected.txt" "$work/installed.txt" || fail "installed files"
[ "$(find "$work/root" -mindepth 1 -maxdepth 1)" = "$work/root/usr" ] || fail "files outside /usr"


case $mode in
tree)
  for size in 48 128 256; do
    file "$usr/share/icons/hicolor/${size}x$size/apps/$id.png" |
      grep -q "PNG image data, $size x $size," || fail "the ${size}px icon is no ${size}px PNG"
  done

  # The desktop entry starts palkor with the file, shows the icon, and takes LGP archives.
  entry=$usr/share/applications/$id.desktop
  desktop-file-validate "$entry" || fail "desktop-file-validate"
  grep -qx "Exec=palkor %f" "$entry" || fail "Exec= of the desktop entry"
  grep -qx "Icon=$id" "$entry" || fail "Icon= of the desktop entry"
  grep -qx "Categories=Graphics;3DGraphics;" "$entry" || fail "Categories= of the desktop entry"
  grep -qx "MimeType=$mime;" "$entry" || fail "MimeType= of the desktop entry"

  # The metainfo, alone and with the tree it describes, and its release.
  metainfo=$usr/share/metainfo/$id.metainfo.xml
  # appstreamcli passes a file with hints and infos: any issue at all fails here.
  appstream() {
    appstreamcli "$@" --no-net --pedantic --strict > "$work/appstream.txt" 2>&1 &&
      ! grep -q '^ *[A-Z]: ' "$work/appstream.txt" || { cat "$work/appstream.txt"; fail "appstreamcli $1"; }
  }
  appstream validate "$metainfo"
  appstream validate-tree "$work/root"
  grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" ||
    fail "the metainfo has no release $version"
  grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id"

  # The desktop as a file manager sees it, with nothing but this tree: LGP archives, in
  # either letter case, have the type, and palkor's entry is the default application for it.
  cp -r "$usr/share" "$work/share"
  mkdir "$work/home" "$work/config"
  update-mime-database "$work/share/mime" > "$work/mime.txt" 2>&1 || fail "update-mime-database"
  update-desktop-database "$work/share/applications" || fail "update-desktop-database"
  grep -qxF "50:$mime:*.lgp" "$work/share/mime/globs2" ||
    { cat "$work/mime.txt"; fail "no $mime for *.lgp in globs2"; }
  # gio offers only entries whose program is on the PATH.
  gio_() {
    XDG_DATA_DIRS="$work/share" XDG_DATA_HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
      XDG_CONFIG_DIRS="$work/config" GIO_USE_VFS=local PATH="$usr/bin:$PATH" gio "$@"
  }
  "$demo" "$work/demo" > /dev/null
  cp "$work/demo/char.lgp" "$work/home/char.lgp"
  cp "$work/demo/battle.lgp" "$work/home/BATTLE.LGP"
  for archive in char.lgp BATTLE.LGP; do
    gio_ info -a standard::content-type "$work/home/$archive" |
      grep -qx "  standard::content-type: $mime" || fail "$archive is not of type $mime"
  done
  gio_ mime "$mime" | grep -qF ": $id.desktop" || fail "palkor is not the application for $mime"

  # The man pages render without a warning, name the version, and palkor-cli's has the help
  # of every command its --help lists.
  for page in palkor palkor-cli; do
    MANWIDTH=200 MANPAGER=cat man --warnings -l "$usr/share/man/man1/$page.1.gz" \
      > "$work/$page.txt" 2> "$work/$page.err" || fail "man -l $page.1.gz"
    [ ! -s "$work/$page.err" ] || { cat "$work/$page.err"; fail "warnings in $page.1"; }
    grep -q "^NAME" "$work/$page.txt" || fail "$page.1 has no NAME"
    grep -q "$page $version" "$work/$page.txt" || fail "$page.1 is not of version $version"
  done
  grep -q "^SYNOPSIS" "$work/palkor.txt" && grep -q "palkor \[options\] \[ARCHIVE" "$work/palkor.txt" ||
    fail "palkor.1 has no synopsis"
  commands=$("$usr/bin/palkor-cli" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
  echo "$commands" | grep -qx members && echo "$commands" | grep -qx render ||
    fail "palkor-cli --help lists no commands that are read here: $commands"
  for command in $commands; do
    grep -q "Usage: palkor-cli $command " "$work/palkor-cli.txt" ||
      fail "palkor-cli.1 has no help of the command $command"
  done

  # The installed programs: their versions, palkor's with no display, and palkor-cli's
  # render, which runs palkor-render from the libexec folder.
  [ "$("$usr/bin/palkor-cli" --version)" = "palkor-cli $version" ] || fail "palkor-cli --version"
  [ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/palkor" --version)" = "palkor $version" ] ||
    fail "palkor --version"
  env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/palkor" --help | grep -q "^Usage: palkor " ||
    fail "palkor --help"
  mkdir "$work/frames"
  "$usr/bin/palkor-cli" render "$work/demo/char.lgp" KNIG.HRC KNWV.A --out "$work/frames/" --png \
    --size 32x24 > /dev/null || fail "palkor-cli render from the installed tree"
  ls "$work/frames/"*.png > /dev/null 2>&1 || fail "palkor-cli render wrote no frames"
  echo "installed tree checked: $(wc -l < "$work/installed.txt") files"
  ;;
package)
  "$cpack" --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.txt" 2>&1 ||
    { cat "$work/cpack.txt"; fail "cpack"; }
  deb=$work/package/palkor_${version}_$(dpkg --print-architecture).deb
  [ -f "$deb" ] || { ls "$work/package"; fail "no package $(basename "$deb")"; }
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = palkor ] || fail "Package: $(field Package)"
  [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
  [ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
  field Maintainer | grep -qE '^[^<]+ <[^@>]+@[^>]+>$' || fail "Maintainer: $(field Maintainer)"
  [ "$(field Description | wc -l)" -gt 2 ] || fail "Description without a long description"
  [ -z "$(field Description | awk 'length > 80')" ] || fail "Description lines over 80 columns"
  # The libraries the programs link, read off them by dpkg-shlibdeps, and what they load
  # at run time: the Qt platform plugins, Mesa's EGL and its drivers.
  depends=$(field Depends)
  for package in libc6 libqt6widgets6 libqt6openglwidgets6 libpng16-16 libegl1 \
                 qt6-qpa-plugins libegl-mesa0 libgl1-mesa-dri; do
    echo "$depends" | grep -qE "(^|, )$package( |,|\$)" || fail "Depends has no $package: $depends"
  done
  # The files of cmake --install, owned by root; the programs stripped.
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | LC_ALL=C sort \
    > "$work/packaged.txt"
  diff -u "$work/installed.txt" "$work/packaged.txt" || fail "packaged files"
  [ "$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)" = root/root ] || fail "owners"
  dpkg-deb -x "$deb" "$work/unpacked"
  for program in bin/palkor bin/palkor-cli libexec/palkor/palkor-render; do
    file "$work/unpacked/usr/$program" | grep -q ', stripped' || fail "$program is not stripped"
  done
  echo "package checked: $(basename "$deb")"
  ;;
*)
  fail "mode $mode"
  ;;
esac
