#!/usr/bin/env bash
# Sums up a CTest run per test executable: passed, failed, skipped, then every skipped test
# with its reason and every failed test. Reads CTest's LastTest.log.
#
#   scripts/windows-summary.sh build/win/Testing/Temporary/LastTest.log
set -euo pipefail
log=${1:?usage: windows-summary.sh <LastTest.log>}
awk '
  function flush() {
    if (name == "") return
    exe = program
    if (exe == "") { exe = name; sub(/\..*/, "", exe) }  # a suite listed as a whole: gui_tests.Suite
    if (!(exe in order)) { order[exe] = ++count; names[count] = exe }
    if (status == "failed") { failed[exe]++; failures = failures "   failed:  " name "\n" }
    else if (status == "skipped") { skipped[exe]++; skips = skips "   skipped: " name ": " reason "\n" }
    else passed[exe]++
    name = ""
  }
  /^[0-9]+\/[0-9]+ Testing: / { flush(); name = $3; program = ""; status = "passed"; reason = ""; next_reason = 0; next }
  /^Command: / {
    if (match($0, /[^"\/]+\.exe"/)) program = substr($0, RSTART, RLENGTH - 5)
    next
  }
  next_reason { reason = $0; next_reason = 0; next }
  /: Skipped$/ { next_reason = 1; next }
  /^Skipped [A-Za-z]+: / { reason = $0; sub(/^Skipped [A-Za-z]+: /, "", reason); next }
  /^Test Failed\./ { status = "failed"; next }
  /^Skip regular expression found/ { status = "skipped"; next }
  END {
    flush()
    print "== Tests under Wine, per executable"
    for (i = 1; i <= count; i++) {
      exe = names[i]
      printf "   %-13s %4d passed, %d failed, %d skipped\n", exe, passed[exe], failed[exe], skipped[exe]
      tp += passed[exe]; tf += failed[exe]; ts += skipped[exe]
    }
    printf "   %-13s %4d passed, %d failed, %d skipped\n", "all", tp, tf, ts
    printf "%s%s", skips, failures
  }
' "$log"
