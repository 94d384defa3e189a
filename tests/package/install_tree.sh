#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR, as a package would be laid out under /usr, and checks
# that the desktop finds what the menu entry and the metainfo name: the program, the icon at each
# size, the manual page, and the schema where the maintainer scripts read it.
# Usage: install_tree.sh <build folder> <generated postinst>
set -u
build=$1 postinst=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Width and height of a PNG, from its header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216 + $2*65536 + $3*256 + $4,
                                                      $5*16777216 + $6*65536 + $7*256 + $8 }'
}

if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$dest.log" 2>&1; then
  cat "$dest.log"
  rm -f "$dest.log"
  echo "FAIL: the install did not run"
  exit 1
fi
rm -f "$dest.log"
usr=$dest/usr

desktops=("$usr"/share/applications/*.desktop)
[ ${#desktops[@]} -eq 1 ] && [ -f "${desktops[0]}" ] || { echo "FAIL: not one desktop entry"; exit 1; }
desktop=${desktops[0]}
id=$(basename "$desktop" .desktop)
entry() { sed -n "s/^$1=//p" "$desktop" | head -n1; }

program=$(entry Exec | cut -d' ' -f1)
[ -x "$usr/bin/$program" ] || fail "the menu entry starts '$program', which is not installed"
[ "$(ls "$usr/bin")" = "$program" ] || fail "bin/ holds more than the program: $(ls "$usr/bin")"
[ -f "$usr/lib/$program/vantrel-window.so" ] || fail "no window module lib/$program/vantrel-window.so"
# The installed program finds its window there: it is still up when the time runs out.
QT_QPA_PLATFORM=offscreen timeout 3 "$usr/bin/$program" --database "$dest/missing.mdb" \
  >"$dest/window.log" 2>&1
status=$?
[ "$status" -eq 124 ] || fail "the installed program did not open its window ($status): $(cat "$dest/window.log")"
[ -f "$usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
for key in 'Name\[zh_CN\]' 'Comment\[zh_CN\]'; do
  [ -n "$(entry "$key")" ] || fail "the menu entry has no ${key//\\/}"
done

icon=$(entry Icon)
[ "$icon" = "$id" ] || fail "the icon '$icon' is not named by the id '$id'"
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon"
for size in 48x48 128x128; do
  png=$usr/share/icons/hicolor/$size/apps/$icon.png
  if [ ! -f "$png" ]; then
    fail "no $size icon"
  elif [ "$(png_size "$png")" != "$size" ]; then
    fail "the $size icon is $(png_size "$png")"
  fi
done

metainfo=$usr/share/metainfo/$id.metainfo.xml
if [ -f "$metainfo" ]; then
  grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"
  grep -q "<binary>$program</binary>" "$metainfo" || fail "the metainfo does not provide $program"
else
  fail "no metainfo $id.metainfo.xml"
fi

schema=$(grep -o '/usr/[^"]*schema.sql' "$postinst" | head -n1)
[ -n "$schema" ] && [ -f "$dest$schema" ] || fail "postinst reads the schema '$schema', not installed"
[ -f "$usr/share/doc/$program/copyright" ] || fail "no copyright file"

# The user service runs the installed program without a window, and the service manager's own
# check finds nothing wrong with it (run on a copy that names the program where this scratch
# install put it, and without looking up the manual page in the system's index).
unit=$usr/lib/systemd/user/$program.service
if [ ! -f "$unit" ]; then
  fail "no user service $program.service"
else
  grep -qx "ExecStart=/usr/bin/$program --headless --loop" "$unit" ||
    fail "the service does not run /usr/bin/$program --headless --loop: $(grep ExecStart "$unit")"
  grep -qx 'Type=notify' "$unit" || fail "the service does not wait to be told it is ready"
  if command -v systemd-analyze >/dev/null; then
    mkdir -p "$dest/check"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$usr/bin/|" "$unit" >"$dest/check/$program.service"
    systemd-analyze verify --man=no "$dest/check/$program.service" ||
      fail "systemd-analyze verify finds fault with the service"
  fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
