#!/usr/bin/env bash
# Inspects the built Debian package: its control fields, its files, the program inside it, and
# its maintainer scripts.
# Usage: deb_contents.sh <folder with the .deb> <database the package prepares>
set -u
folder=$1 database=$2
debs=("$folder"/*.deb)
# package_deb_build reports a build that failed; it skips when the tools are missing.
[ -f "${debs[0]}" ] || { echo "no package was built in $folder; skipping"; exit 77; }
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: more than one package in $folder"; exit 1; }
deb=${debs[0]}
echo "Inspecting $deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
field() { dpkg-deb -f "$deb" "$1"; }

dpkg-deb -c "$deb" >"$work/list" || { echo "FAIL: dpkg-deb cannot read $deb"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"

[ "$(field Package)" = vantrel-autorun ] || fail "package name $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture $(field Architecture)"
changelog=$work/root/usr/share/doc/vantrel-autorun/changelog.Debian.gz
logged=$(gzip -dc "$changelog" 2>/dev/null | sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p')
[ -n "$logged" ] && [ "$(field Version)" = "$logged" ] ||
  fail "version $(field Version), but the change log's last entry is '$logged'"
depends=$(field Depends)
# What the program needs that its binary does not say: the client that prepares the database,
# a font for the Chinese texts, the opener of documents; and what dpkg-shlibdeps found.
for wanted in sqlite3 'fonts-wqy-microhei | fonts-noto-cjk' xdg-utils libqt6widgets6 libsqlite3-0 \
  libmdb3; do
  [[ ", $depends," == *", $wanted"[\ ,]* ]] || fail "Depends lacks '$wanted': $depends"
done

awk '$2 != "root/root" { print "owned by " $2 ": " $6 }' "$work/list" | grep . && fail "files not owned by root"
grep -q '^-rwxr-xr-x .* \./usr/bin/vantrel-autorun$' "$work/list" || fail "no program usr/bin/vantrel-autorun"
# The window is a module the program loads from beside its own folder.
grep -q ' \./usr/lib/vantrel-autorun/vantrel-window\.so$' "$work/list" ||
  fail "no window module usr/lib/vantrel-autorun/vantrel-window.so"
grep -qx 'ExecStart=/usr/bin/vantrel-autorun --headless --loop' \
  "$work/root/usr/lib/systemd/user/vantrel-autorun.service" || fail "no user service for /usr/bin"
# dpkg would replace the schedule on upgrade and delete it on remove if the package held it.
grep -q " \./var/" "$work/list" && fail "the package holds files under /var"
grep -qaF "$database" "$work/root/usr/bin/vantrel-autorun" ||
  fail "the program was not built for $database"

for script in postinst postrm; do
  path=$work/control/$script
  if [ ! -x "$path" ]; then
    fail "no executable $script"
    continue
  fi
  sh -n "$path" || fail "$script is not valid sh"
  grep -q "$database" "$path" || fail "$script does not name $database"
done
schema=$(grep -o '/usr/[^"]*schema.sql' "$work/control/postinst" | head -n1)
[ -n "$schema" ] && [ -f "$work/root$schema" ] || fail "postinst reads the schema '$schema', not in the package"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
