#!/usr/bin/env bash
# Builds the benchmarks in Release, makes the databases they need, runs the program and its
# baselines interleaved, and prints one line per figure, then a summary. Ratios are reported,
# never judged by the exit code: it is non-zero only when a benchmark fails to run.
# Usage: bench/run.sh [--quick] [--reps N] [--build-dir DIR]
#   --quick          one repetition at 100k rows only, for CI
#   --reps N         repetitions of each measurement (9 by default)
#   --build-dir DIR  an existing build with -DVANTREL_BUILD_BENCH=ON instead of a Release build
#                    of its own in build-bench/
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${VANTREL_BENCH_BUILD_DIR:-$ROOT/build-bench}
source "$ROOT/tools/lib.sh"

reps=9
quick=false
configure=true
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=true reps=1 ;;
    --reps) reps=$2; shift ;;
    --build-dir) BUILD_DIR=$(cd "$2" && pwd) configure=false; shift ;;
    *) echo "usage: bench/run.sh [--quick] [--reps N] [--build-dir DIR]" >&2; exit 2 ;;
  esac
  shift
done
started=$SECONDS

install_missing "${BUILD_PACKAGES[@]}" xvfb libx11-dev libxdamage-dev supervisor
if $configure; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF >/dev/null
elif ! grep -q '^VANTREL_BUILD_BENCH:BOOL=ON$' "$BUILD_DIR/CMakeCache.txt"; then
  echo "bench/run.sh: $BUILD_DIR is not configured with -DVANTREL_BUILD_BENCH=ON" >&2
  exit 2
fi
cmake --build "$BUILD_DIR" --parallel "$(nproc)" >/dev/null

BIN=$BUILD_DIR/bench
WORK=$BIN/work
LOG=$WORK/bench.log
mkdir -p "$WORK" "$BIN/data"
: >"$LOG"
export LC_ALL=C.UTF-8 LANG=C.UTF-8 QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

xvfb_pid=
cleanup() {
  local job
  for job in $(jobs -p); do
    kill "$job" 2>/dev/null || true
    wait "$job" 2>/dev/null || true
  done
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'echo "bench/run.sh: the step at line $LINENO failed" >&2' ERR

failed() {
  echo "bench/run.sh: $* failed; the end of $LOG:" >&2
  tail -n 20 "$LOG" >&2
  exit 1
}

# A virtual display of our own unless there is one; Xvfb names its display once it is ready.
if [ -z "${DISPLAY:-}" ]; then
  fifo=$WORK/display.fifo
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" 2>>"$LOG" &
  xvfb_pid=$!
  read -r -t 30 display <"$fifo" || failed "starting Xvfb"
  rm -f "$fifo"
  export DISPLAY=:$display
fi

# A schedule of realistic entries; made once and kept in the build folder.
make_database() {
  local file=$1 rows=$2
  if [ -f "$file" ] && [ "$(sqlite3 "$file" 'SELECT count(*) FROM QZProgram')" = "$rows" ]; then
    return
  fi
  rm -f "$file"
  sqlite3 "$file" <"$ROOT/store/schema.sql"
  sqlite3 "$file" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
    INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime, ProgramCount)
    SELECT '/usr/bin/program-' || i, '--option value-' || i || ' --verbose', 5 + i % 60, 1 + i % 5
    FROM n WHERE $rows > 0"
}

sizes=(100k)
$quick || sizes+=(1m)
declare -A rowsOf=([0]=0 [2]=2 [10]=10 [100k]=100000 [1m]=1000000)
for size in 0 2 10 "${sizes[@]}"; do
  make_database "$WORK/db-$size.mdb" "${rowsOf[$size]}"
done

# The real program opens the database its build names; the figures point it at theirs.
use_database() { ln -sfn "$WORK/db-$1.mdb" "$BIN/data/ProgramRun.mdb"; }

probe() { "$BIN/vantrel_bench_probe" "$@" 2>>"$LOG" || failed "$*"; }
app() { "$BIN/vantrel_bench_app" "$@" 2>>"$LOG" || failed "vantrel_bench_app $*"; }

declare -A project baseline
collectedTimes=()
record() { project[$1]+=" $2"; baseline[$1]+=" $3"; }

# One run of the schedule's engine and one of `timeout` in a loop, side by side: both sleep nearly
# all the time, so neither disturbs the other. Each leaves its report in the work folder.
lifetime_runs() {
  local child=$BIN/vantrel_bench_lifetime_child
  rm -f "$WORK/lifetime-"* "$WORK/db-lifetime.mdb"
  sqlite3 "$WORK/db-lifetime.mdb" <"$ROOT/store/schema.sql"
  sqlite3 "$WORK/db-lifetime.mdb" "INSERT INTO QZProgram
    (ProgramName, ProgramParameter, ProgramTime, ProgramCount)
    VALUES ('$child', '''$WORK/lifetime-engine.txt''', 2, 10)"
  probe exit -- "$BIN/vantrel_bench_app" lifetime "$WORK/db-lifetime.mdb" >/dev/null &
  local engine=$!
  probe exit -- bash -c 'for _ in $(seq 10); do timeout 2 "$0" "$1"; done; exit 0' \
    "$child" "$WORK/lifetime-timeout.txt" >/dev/null
  wait "$engine" || failed "the engine's run"
}

median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 }
  END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# A run without a window of ten entries of 1 s each, and the same ten runs by `timeout` in a shell
# loop, and a supervisor of one `sleep`, all started beside the lifetime runs: every one of them
# sleeps nearly all the time, and what is measured of them is memory and processor time, not
# timing. The processor time of the ten `sleep` programs themselves is measured apart and taken off
# both sides of run_cpu.
unattended_start() {
  rm -f "$WORK/db-unattended.mdb" "$WORK/unattended-"*
  sqlite3 "$WORK/db-unattended.mdb" <"$ROOT/store/schema.sql"
  sqlite3 "$WORK/db-unattended.mdb" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1
    FROM n WHERE i < 10) INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime,
    ProgramCount) SELECT 'sleep', '5', 1, 1 FROM n"
  cat >"$WORK/supervisord.conf" <<CONF
[supervisord]
nodaemon=true
logfile=$WORK/supervisord.log
pidfile=$WORK/supervisord.pid
[program:sleep]
command=sleep 60
CONF
  probe exit -- "$BIN/vantrel-autorun-bench" --headless --database "$WORK/db-unattended.mdb" \
    >"$WORK/unattended-runner.txt" &
  unattendedRunner=$!
  {
    probe exit -- bash -c 'for _ in 1 2 3 4 5 6 7 8 9 10; do timeout 1 sleep 5; done; exit 0' \
      >"$WORK/unattended-loop.txt"
    probe exit -- timeout --preserve-status 5 supervisord -c "$WORK/supervisord.conf" \
      >"$WORK/unattended-supervisor.txt"
  } &
  unattendedOthers=$!
}

unattended_finish() {
  wait "$unattendedRunner" || failed "the run without a window"
  wait "$unattendedOthers" || failed "the shell loop or the supervisor"
  local sleeps=0 time
  for _ in $(seq 10); do
    read -r _ _ time <<<"$(probe exit -- sleep 0)"
    sleeps=$((sleeps + time))
  done
  read -r runnerTime runnerRss runnerCpu <"$WORK/unattended-runner.txt"
  read -r loopTime _ loopCpu <"$WORK/unattended-loop.txt"
  read -r _ supervisorRss _ <"$WORK/unattended-supervisor.txt"
  record run_cpu "$(((runnerCpu - sleeps) * 60000000 / runnerTime))" \
    "$(((loopCpu - sleeps) * 60000000 / loopTime))"
  record headless_rss "$runnerRss" "$supervisorRss"
}

# Median run lifetime minus T and drift of the start times, both in µs, from a report of
# "<start> <end>" lines; runs start every `period` µs.
lifetime_figures() {
  local report=$1 period=$2
  [ "$(wc -l <"$report")" -eq 10 ] || failed "counting the runs in $report"
  median "$(awk '{ print $2 - $1 - 2000000 }' "$report")"
  sort -n "$report" |
    awk -v period="$period" '{ s[NR] = $1 } END { print s[NR] - s[1] - (NR - 1) * period }'
}

for ((rep = 1; rep <= reps; rep++)); do
  for size in "${sizes[@]}"; do
    db=$WORK/db-$size.mdb
    # One run of each side first, not measured: after the half minute of sleeping runs that ends
    # each repetition, whichever program runs first runs on a cold processor, a tenth to a half
    # slower, and that was always the program.
    probe exit -- "$BIN/vantrel_bench_load" "$db" >/dev/null
    probe exit -- sqlite3 "$db" "select * from QZProgram" >/dev/null
    out=$(probe exit -- "$BIN/vantrel_bench_load" "$db")
    read -r loadTime loadRss _ <<<"$out"
    out=$(probe exit -- sqlite3 "$db" "select * from QZProgram")
    read -r clientTime _ <<<"$out"
    out=$(probe exit -- "$BIN/vantrel_bench_load" "$WORK/db-0.mdb")
    read -r _ emptyRss _ <<<"$out"
    record "load_$size" "$loadTime" "$clientTime"
    record "memory_$size" "$((loadRss - emptyRss))" "$(($(stat -c %s "$db") / 1024))"
    [ "$size" = 100k ] && client100k=$clientTime
  done

  use_database 100k
  out=$(probe window -- "$BIN/vantrel-autorun-bench")
  read -r fullTime _ <<<"$out"
  use_database 0
  out=$(probe window -- "$BIN/vantrel-autorun-bench")
  read -r emptyTime _ <<<"$out"
  record window_100k "$((fullTime - emptyTime))" "$client100k"

  use_database 2
  out=$(probe window -- "$BIN/vantrel-autorun-bench")
  read -r programTime programRss <<<"$out"
  out=$(probe window -- "$BIN/vantrel_bench_minimal")
  read -r minimalTime minimalRss <<<"$out"
  record startup "$programTime" "$minimalTime"
  record startup_rss "$programRss" "$minimalRss"

  cp "$WORK/db-100k.mdb" "$WORK/db-add.mdb"
  out=$(app add "$WORK/db-add.mdb")
  read -r addTime loadOnce addRss loadRss <<<"$out"
  record add_100k "$addTime" "$loadOnce"
  record add_100k_rss "$addRss" "$loadRss"

  cp "$WORK/db-2.mdb" "$WORK/db-history.mdb"
  out=$("$BIN/vantrel_bench_history" "$WORK/db-history.mdb" 50 2>>"$LOG") ||
    failed "the history writes"
  read -r historyWrite plainInsert <<<"$out"
  record history_write "$historyWrite" "$plainInsert"

  out=$(app tick "$WORK/db-100k.mdb")
  read -r tickLong <<<"$out"
  out=$(app tick "$WORK/db-10.mdb")
  read -r tickShort <<<"$out"
  record tick_flat "$tickLong" "$tickShort"

  # Both on one processor: on two, whether the kernel puts each new process beside its starter
  # or on the other processor decides the figure more than either side's own work does.
  out=$(taskset -c 0 "$BIN/vantrel_bench_app" launch 50 sleep 2>>"$LOG") ||
    failed "the launch cycle"
  read -r cycle untilCollected <<<"$out"
  collectedTimes+=("$untilCollected")
  plainCycle=$(taskset -c 0 "$BIN/vantrel_bench_spawn_cycle" 50 sleep 60 2>>"$LOG") ||
    failed "the plain spawn cycle"
  record launch_cycle "$cycle" "$plainCycle"

  # Half a minute each: three times are enough for a median.
  [ "$rep" -le 3 ] && unattended_start
  lifetime_runs
  [ "$rep" -le 3 ] && unattended_finish
  engine=$(lifetime_figures "$WORK/lifetime-engine.txt" 3000000)
  loop=$(lifetime_figures "$WORK/lifetime-timeout.txt" 2000000)
  read -r -d '' engineError engineDrift <<<"$engine" || true
  read -r -d '' loopError loopDrift <<<"$loop" || true
  record lifetime_error "$engineError" "$loopError"
  record lifetime_drift "$engineDrift" "$loopDrift"

done

over=()
# name, unit of the samples, unit shown, divisor, goal; an absolute goal ends in the unit.
report() {
  local name=$1 shown=$2 divisor=$3 goal=$4
  local p b
  p=$(median "${project[$name]}")
  b=$(median "${baseline[$name]}")
  awk -v name="$name" -v p="$p" -v b="$b" -v d="$divisor" -v unit="$shown" -v goal="$goal" '
    function abs(x) { return x < 0 ? -x : x }
    BEGIN {
      ratio = b != 0 ? sprintf("%.2f", p / b) : "n/a"
      if (goal ~ /[a-z]$/) { limit = goal + 0; ok = abs(p / d) <= limit }
      else ok = b != 0 && p / b <= goal + 0
      printf "BENCH %s project=%.1f%s baseline=%.1f%s ratio=%s goal=%s %s\n",
        name, p / d, unit, b / d, unit, ratio, goal, ok ? "ok" : "over"
    }'
}

lines=()
figures=(load_100k)
$quick || figures+=(load_1m)
figures+=(memory_100k)
$quick || figures+=(memory_1m)
figures+=(window_100k add_100k startup startup_rss launch_cycle lifetime_error lifetime_drift
  tick_flat history_write headless_rss run_cpu)
declare -A shape=(
  [load_100k]="ms 1000 1.5" [load_1m]="ms 1000 1.5"
  [memory_100k]="MB 1024 2" [memory_1m]="MB 1024 2"
  [window_100k]="ms 1000 1.5" [add_100k]="ms 1000 1.2"
  [startup]="ms 1000 1.3" [startup_rss]="MB 1024 1.2"
  [launch_cycle]="us 1 1.2"
  [lifetime_error]="ms 1000 5ms" [lifetime_drift]="ms 1000 5ms"
  [tick_flat]="us 1 1.2"
  [history_write]="us 1 1.5" [headless_rss]="MB 1024 0.5" [run_cpu]="ms 1000 1.0")
for name in "${figures[@]}"; do
  # shellcheck disable=SC2086
  line=$(report "$name" ${shape[$name]})
  echo "$line"
  case $line in *" over") over+=("$name") ;; esac
done

addRss=$(median "${project[add_100k_rss]}")
loadRss=$(median "${baseline[add_100k_rss]}")
awk -v a="$addRss" -v l="$loadRss" 'BEGIN {
  printf "NOTE add_100k RSS after the add %.1fMB, after a plain load %.1fMB, difference %+.1fMB\n",
    a / 1024, l / 1024, (a - l) / 1024 }'
awk -v c="$(median "${collectedTimes[*]}")" 'BEGIN {
  printf "NOTE launch_cycle a program ended is collected %.0fus after its launch, without the window waiting\n", c }'
echo "SUMMARY ${#figures[@]} figures, $((${#figures[@]} - ${#over[@]})) ok, ${#over[@]} over${over[*]:+ (${over[*]})};" \
  "$reps repetition(s), $((SECONDS - started)) s with the build," \
  "$(nproc) cores"
