#!/usr/bin/env bash
# The maintainer scripts' database functions against a scratch root, run the way postinst and
# postrm run them (sh -e). Each case starts from an empty root.
# Usage: schedule_database.sh <schedule-database.sh> <schema.sql>
set -u
library=$1 schema=$2
database=/var/lib/vantrel-autorun/ProgramRun.mdb
owner="$(id -u):$(id -g)"
if ! command -v sqlite3 >/dev/null; then
  echo "the sqlite3 client is not installed; skipping"
  exit 77
fi

prepare() { sh -e -c '. "$1"; schedule_database_prepare "$2" "$3" "$4" "$5"' sh "$library" "$root" "$database" "$owner" "$1"; }
purge() { sh -e -c '. "$1"; schedule_database_purge "$2" "$3"' sh "$library" "$root" "$database"; }
check() { "$@" || { echo "  not true: $*"; return 1; }; }

case_absent_created_from_schema() {
  prepare "$schema" || return 1
  check [ "$(stat -c %a "$root$database")" = 664 ] &&
    check [ "$(stat -c %a "$(dirname "$root$database")")" = 2775 ] &&
    check [ "$(stat -c %u:%g "$root$database")" = "$owner" ] &&
    check [ "$(stat -c %u:%g "$(dirname "$root$database")")" = "$owner" ] &&
    check [ "$(ls -A "$(dirname "$root$database")")" = ProgramRun.mdb ] || return 1
  sqlite3 "$scratch/reference.mdb" <"$schema"
  check [ "$(sqlite3 "$root$database" .schema)" = "$(sqlite3 "$scratch/reference.mdb" .schema)" ] &&
    check [ "$(sqlite3 "$root$database" "INSERT INTO QZProgram (ProgramName) VALUES ('x');
                                          SELECT ProgramIndex FROM QZProgram")" = 1 ]
}

case_present_database_kept_byte_for_byte() {
  mkdir -p "$(dirname "$root$database")"
  sqlite3 "$root$database" <"$schema"
  sqlite3 "$root$database" "INSERT INTO QZProgram (ProgramName) VALUES ('kept')"
  chmod 0600 "$root$database"
  cp -p "$root$database" "$scratch/before"
  prepare "$schema" || return 1
  check cmp "$scratch/before" "$root$database" &&
    check [ "$(stat -c %a "$root$database")" = 600 ]
}

case_link_at_path_not_followed() {
  mkdir -p "$(dirname "$root$database")"
  ln -s "$scratch/elsewhere.mdb" "$root$database"
  prepare "$schema" || return 1
  check [ -L "$root$database" ] && check [ ! -e "$scratch/elsewhere.mdb" ]
}

case_broken_schema_leaves_nothing() {
  echo "CREATE TABLE broken (" >"$scratch/broken.sql"
  if prepare "$scratch/broken.sql" 2>/dev/null; then
    echo "  a broken schema was reported as success"
    return 1
  fi
  check [ -z "$(ls -A "$(dirname "$root$database")")" ]
}

case_purge_removes_database_journal_and_folder() {
  prepare "$schema" || return 1
  touch "$root$database-journal"
  purge || return 1
  check [ ! -e "$(dirname "$root$database")" ] && check [ -d "$root/var/lib" ]
}

case_purge_keeps_folder_with_other_files() {
  prepare "$schema" || return 1
  echo backup >"$root$database.backup"
  purge 2>/dev/null || return 1
  check [ ! -e "$root$database" ] && check [ "$(cat "$root$database.backup")" = backup ]
}

case_purge_of_nothing_succeeds() {
  purge
}

failures=0
for name in $(declare -F | awk '$3 ~ /^case_/ { print $3 }'); do
  scratch=$(mktemp -d)
  root=$scratch/root
  mkdir -p "$root"
  if (set -u; $name); then
    echo "PASS: ${name#case_}"
  else
    echo "FAIL: ${name#case_}"
    failures=$((failures + 1))
  fi
  rm -rf "$scratch"
done
[ "$failures" -eq 0 ] || exit 1
echo "PASS"
