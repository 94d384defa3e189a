#!/usr/bin/env bash
# Starts the real program on a virtual display, as a person would start it, and checks what
# comes up: the main window with its icon on a good database, and an error report when the
# database file is missing (the report comes first; the window follows once it is answered).
# Usage: window.sh <program> <database the program was built for> <schema.sql>
set -u
program=$1 database=$2 schema=$3

for tool in Xvfb xwininfo xprop sqlite3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed; skipping"
    exit 77
  fi
done

# Runs a command, for a minute at most, on a virtual display of its own. The server is started
# here and names its display once it is ready: xvfb-run waits for the server's signal in a way
# that misses it when the server is quick, and then waits for ever.
on_display() {
  local screen=$1
  shift
  local fifo display= status
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fifo" 2>/dev/null &
  local server=$!
  read -r -t 30 display <"$fifo"
  rm -f "$fifo"
  if [ -z "$display" ]; then
    kill "$server" 2>/dev/null
    echo "FAIL: Xvfb did not start"
    return 1
  fi
  DISPLAY=:$display timeout 60 "$@"
  status=$?
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  return $status
}

# Runs the program on its own display for a few seconds and prints the names of the windows
# it shows.
window_names() {
  on_display 1280x800x24 bash -c '
    "$0" 2>"$1.stderr" &
    pid=$!
    for _ in $(seq 150); do
      sleep 0.2
      names=$(xwininfo -root -tree 2>/dev/null | grep -o "0x[0-9a-f]* \"[^\"]*\"" |
        while read -r id name; do
          xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && echo "$name"
        done | sort -u)
      case "$names" in *Vantrel程序自动运行器* | *vantrel-autorun-e2e*) break ;; esac
    done
    echo "$names"
    main=$(xwininfo -root -tree 2>/dev/null | grep -o "0x[0-9a-f]* \"Vantrel程序自动运行器\"" |
      cut -d" " -f1)
    for id in $main; do
      xprop -id "$id" _NET_WM_ICON 2>/dev/null | grep -q "Icon (48 x 48)" && echo "icon: 48x48"
    done
    kill "$pid"
    wait "$pid" 2>/dev/null
    true' "$program" "$database"
}

fail() {
  echo "FAIL: $*"
  exit 1
}

rm -f "$database"
sqlite3 "$database" < "$schema" || fail "cannot prepare $database"
sqlite3 "$database" "INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime, ProgramCount) VALUES ('sleep', '5', 2, 1)"
names=$(window_names)
echo "$names"
grep -q '"Vantrel程序自动运行器"' <<<"$names" || fail "the main window did not come up"
grep -q '^icon: 48x48' <<<"$names" || fail "the main window has no icon"
if grep -q '"vantrel-autorun-e2e"' <<<"$names"; then
  fail "a message box came up on a good database"
fi

# At twice the scale the window keeps its proportions: twice as wide and twice as high. A picture
# of it is left beside the database, where the tools to take one are there, to look at.
sizes=$(for scale in 1 2; do
  QT_SCALE_FACTOR=$scale on_display 2400x1800x24 bash -c '
    "$0" 2>/dev/null &
    pid=$!
    id=
    for _ in $(seq 150); do
      id=$(xwininfo -root -tree 2>/dev/null | grep -o "0x[0-9a-f]* \"Vantrel程序自动运行器\"" |
        cut -d" " -f1 | head -1)
      [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && break
      sleep 0.2
    done
    command -v import >/dev/null && import -window root "$1.scale$2.png" 2>/dev/null
    xwininfo -id "$id" 2>/dev/null | awk "/Width:/ {w = \$2} /Height:/ {h = \$2} END {print w, h}"
    kill "$pid"
    wait "$pid" 2>/dev/null
    true' "$program" "$database" "$scale"
done)
echo "sizes at scales 1 and 2: $(tr '\n' ' ' <<<"$sizes")"
read -r -d '' w1 h1 w2 h2 <<<"$sizes"
[ "${w1:-0}" -gt 0 ] && [ "$w2" -eq $((2 * w1)) ] && [ "$h2" -eq $((2 * h1)) ] ||
  fail "the window does not keep its proportions at twice the scale"

# Started with --start, the run begins without a click: the entry's program writes its process id
# into a file.
marker=$(mktemp -u)
sqlite3 "$database" "UPDATE QZProgram SET ProgramName = 'sh', ProgramTime = 30, ProgramParameter = '-c ''echo \$\$ > $marker; exec sleep 60'''"
on_display 1280x800x24 bash -c '
  "$0" --start 2>"$1.stderr" &
  pid=$!
  for _ in $(seq 300); do
    [ -s "$2" ] && break
    sleep 0.1
  done
  kill "$pid"
  wait "$pid" 2>/dev/null
  true' "$program" "$database" "$marker"
[ -s "$marker" ] || { cat "$database.stderr"; fail "--start did not begin the run"; }
# Closing the window leaves the started program running, so the test ends it itself.
kill -KILL -- "-$(cat "$marker")" 2>/dev/null
rm -f "$marker"
echo "--start began the run"

# One window per schedule: a second start of the program raises the window already open on it,
# and a second --start begins that window's run; neither opens a window of its own.
sqlite3 "$database" "UPDATE QZProgram SET ProgramName = 'sh', ProgramTime = 30, ProgramParameter = '-c ''echo \$\$ > $marker; exec sleep 60'''"
on_display 1280x800x24 bash -c '
  "$0" 2>"$1.stderr" &
  pid=$!
  for _ in $(seq 150); do
    xwininfo -root -tree 2>/dev/null | grep -q "\"Vantrel程序自动运行器\"" && break
    sleep 0.2
  done
  out=$(timeout 20 "$0" 2>&1)
  echo "second: $out status $?"
  out=$(timeout 20 "$0" --start 2>&1)
  echo "second --start: $out status $?"
  for _ in $(seq 300); do
    [ -s "$2" ] && break
    sleep 0.1
  done
  echo "windows: $(xwininfo -root -tree 2>/dev/null | grep -c "\"Vantrel程序自动运行器\"")"
  kill "$pid"
  wait "$pid" 2>/dev/null
  true' "$program" "$database" "$marker" >"$database.once" 2>&1
cat "$database.once"
grep -q "^second: raised the window already open on .* status 0$" "$database.once" ||
  fail "a second start did not raise the open window"
grep -q "^second --start: the window already open on .* began its run status 0$" "$database.once" ||
  fail "a second --start was not handed to the open window"
grep -q "^windows: 1$" "$database.once" || fail "a second window came up"
[ -s "$marker" ] || fail "the open window did not begin its run"
kill -KILL -- "-$(cat "$marker")" 2>/dev/null
rm -f "$marker" "$database.once"
echo "a second start reached the open window"

# Without its database the program reports why before anything else comes up.
rm -f "$database"
names=$(window_names)
echo "$names"
grep -q '"vantrel-autorun-e2e"' <<<"$names" || fail "no error report for the missing database"
[ ! -e "$database" ] || fail "the program created the missing database"
echo "PASS"
