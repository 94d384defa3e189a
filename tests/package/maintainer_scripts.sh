#!/usr/bin/env bash
# Runs the generated postinst and postrm with every command they call replaced by a stub that
# only writes down its call, and checks what each action would do to the system: configure
# makes the group before handing it the database folder; remove and upgrade keep the schedule;
# purge deletes it and the group.
# Usage: maintainer_scripts.sh <postinst> <postrm> <database path>
set -u
postinst=$1 postrm=$2 database=$3
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
failures=0

for command in groupadd groupdel mkdir chown chmod sqlite3 ln rm rmdir; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$command" "$stubs" >"$stubs/$command"
  chmod +x "$stubs/$command"
done
# The group is absent before configure and present before purge: each row says which.
printf '#!/bin/sh\n[ -e "%s/group" ]\n' "$stubs" >"$stubs/getent"
chmod +x "$stubs/getent"

# Runs one script with one action; prints the calls it made.
calls() {
  local script=$1 action=$2 group=$3
  rm -f "$stubs/calls" "$stubs/group"
  [ "$group" = present ] && touch "$stubs/group"
  if ! PATH=$stubs /bin/sh "$script" "$action" </dev/null >/dev/null 2>&1; then
    echo "exit-failure"
  fi
  cat "$stubs/calls" 2>/dev/null
}

# script, action, group before, what must be called (in this order), what must not be called.
# Whether configure succeeds depends on files outside the stubs' reach; the database functions'
# own test covers it.
rows=(
  "postinst|configure|absent|groupadd --system vantrel-autorun;chown root:vantrel-autorun|"
  "postinst|configure|present|chown root:vantrel-autorun|groupadd"
  "postrm|remove|present||rm ;rmdir;groupdel;exit-failure"
  "postrm|upgrade|present||rm ;rmdir;groupdel;exit-failure"
  "postrm|abort-install|present||rm ;rmdir;groupdel;exit-failure"
  "postrm|purge|present|rm -f $database;groupdel vantrel-autorun|exit-failure"
  "postrm|purge|absent|rm -f $database|groupdel;exit-failure"
)
for row in "${rows[@]}"; do
  IFS='|' read -r script action group wanted unwanted <<<"$row"
  name="$script $action, group $group"
  [ "$script" = postinst ] && path=$postinst || path=$postrm
  made=$(calls "$path" "$action" "$group")
  rest=$made
  IFS=';' read -ra items <<<"$wanted"
  for item in "${items[@]}"; do
    if [[ "$rest" == *"$item"* ]]; then
      rest=${rest#*"$item"}
    else
      echo "FAIL: $name: no '$item' (in this order) among:"$'\n'"$made"
      failures=$((failures + 1))
    fi
  done
  IFS=';' read -ra items <<<"$unwanted"
  for item in "${items[@]}"; do
    if grep -q "^$item" <<<"$made"; then
      echo "FAIL: $name: '$item' was called:"$'\n'"$made"
      failures=$((failures + 1))
    fi
  done
done

for script in "$postinst" "$postrm"; do
  sh -n "$script" || { echo "FAIL: $script is not valid sh"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] || exit 1
echo "PASS"
