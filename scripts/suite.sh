# Runs test suites and adds up what they report; sourced by scripts/test
# and scripts/sanitize. Set "logs" to the folder for the suites' output.
passed=0
failed=0
broken=()

# Adds the counts a suite printed: googletest's summary or "N passed, N failed".
count() {
  local log="$1" p f
  p=$(grep -aoE '^\[  PASSED  \] [0-9]+ test' "$log" | grep -oE '[0-9]+' | tail -1)
  f=$(grep -aoE '^\[  FAILED  \] [0-9]+ test' "$log" | grep -oE '[0-9]+' | tail -1)
  if [ -z "$p$f" ]; then
    p=$(grep -aoE '[0-9]+ passed, [0-9]+ failed' "$log" | tail -1 | grep -oE '^[0-9]+')
    f=$(grep -aoE '[0-9]+ passed, [0-9]+ failed' "$log" | tail -1 | sed -E 's/.* ([0-9]+) failed/\1/')
  fi
  echo "${p:-0} ${f:-0}"
}

# step NAME COMMAND...: runs a suite, keeps its output, adds its counts.
step() {
  local name="$1"; shift
  local log="$logs/$name.log" start=$SECONDS rc p f
  "$@" >"$log" 2>&1
  rc=$?
  read -r p f < <(count "$log")
  if [ "$rc" != 0 ] && [ "$f" = 0 ]; then f=1; fi
  passed=$((passed + p))
  failed=$((failed + f))
  if [ "$rc" = 0 ]; then
    printf 'ok    %-22s %4d passed %6ds\n' "$name" "$p" $((SECONDS - start))
  else
    printf 'FAIL  %-22s %4d passed, %d failed (exit %d) — %s\n' "$name" "$p" "$f" "$rc" "$log"
    tail -n 40 "$log" | sed 's/^/      /'
    broken+=("$name")
  fi
}

# The closing line, and the exit status: 0 only when every suite passed.
summary() {
  if [ "${#broken[@]}" != 0 ]; then echo "failed suites: ${broken[*]} (logs in $logs/)"; fi
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ] && [ "${#broken[@]}" = 0 ]
}
