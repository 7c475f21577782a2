#!/bin/bash
# The USB topology walk through a real I/O path under Wine: the rig's kernel driver plays the
# host controllers and hubs of a tree file, a program walks them, and the requests that reached
# the driver must be, byte for byte, those that the same walk makes over the simulated tree.
#
#   usb_walk_test.sh --wine-env tools/wine-env.sh --prefix DIR --work DIR --tree FILE
#                    [--identification TEXT] --match 0|1 --reference SIM_WALK.exe
#                    --runner RUNNER.exe --driver RIG.sys [--no-match-line] [--within-longest]
#                    [--i386 EXE32] -- PROGRAM [ARGS...]
#
# --reference walks the simulated tree and writes the reference log; PROGRAM runs under the
# rig's runner with the driver loaded. Checks:
#   - the reference walk leaves the match flag given by --match and makes requests at all;
#   - the requests in the driver's log equal those of the reference, in order and byte for byte
#     (requests to nodes that never answer included: "request pending");
#   - with --identification, some device's identification string (index 0xFF, language 0x0036)
#     was asked and answered with TEXT;
#   - every node that was opened was closed once the walk was done with it;
#   - every request that the driver kept pending had its cancel routine called, and was ended,
#     by that routine or, for a node that ignores cancellation, by the node's cleanup;
#   - PROGRAM printed "topology match=" with the flag of --match (unless --no-match-line: a
#     program that walks without printing its flag, such as the shipped one);
#   - with --within-longest, PROGRAM printed "walk ms=N longest=M" with N at most M: the walk
#     took no longer than its budget and one cancel grace time.
# --i386 EXE32: PROGRAM starts the 32-bit EXE32; where 32-bit programs cannot run, the test exits
# with status 77 (skipped) and the reason.
set -uo pipefail

fail() { echo "FAIL $*"; failures=$((failures + 1)); }
pass() { echo "ok   $*"; }

failures=0
print_match_line=1
within_longest=0
identification=
run_action=(run)
while [[ $# -gt 0 ]]; do
  case "$1" in
    --wine-env) wine_env=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    --identification) identification=$2; shift 2 ;;
    --match) match=$2; shift 2 ;;
    --reference) reference=$2; shift 2 ;;
    --runner) runner=$2; shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --no-match-line) print_match_line=0; shift ;;
    --within-longest) within_longest=1; shift ;;
    --i386) run_action=(run-i386 "$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "usage: see $0" >&2; exit 2 ;;
  esac
done
if [[ $# -eq 0 || -z "${wine_env:-}" || -z "${prefix:-}" || -z "${work:-}" || -z "${tree:-}" ||
      -z "${match:-}" || -z "${reference:-}" || -z "${runner:-}" || -z "${driver:-}" ]]; then
  echo "usage: see $0" >&2
  exit 2
fi

prefix=$(realpath -m "$prefix")  # Wine takes only an absolute prefix

# Unix paths as Windows programs under Wine reach them (the Z: drive).
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

rm -rf "$work"
mkdir -p "$work"
reference_log=$work/reference.log
rig_log=$work/rig.log

echo "== reference: the walk over the simulated tree $tree"
bash "$wine_env" "$prefix" run "$reference" --tree "$(windows_path "$tree")" \
  --log "$(windows_path "$reference_log")" >"$work/reference.out" 2>&1
status=$?
cat "$work/reference.out"
[[ $status -eq 0 ]] || fail "the reference walk ended with status $status"
reference_match=$(sed -n 's/^topology match=\([01]\).*/\1/p' "$work/reference.out" | tr -d '\r')
[[ "$reference_match" == "$match" ]] || fail "the reference walk left match=${reference_match:-?}, expected $match"

echo "== rig: $* with the driver serving the same tree"
start=$(date +%s%N)
bash "$wine_env" "$prefix" "${run_action[@]}" "$runner" --driver "$(windows_path "$driver")" \
  --tree "$(windows_path "$tree")" --log "$(windows_path "$rig_log")" -- "$@" >"$work/rig.out" 2>&1
status=$?
cat "$work/rig.out"
[[ $status -eq 77 ]] && exit 77  # skipped: the reason is in the output above
echo "rig run: $((($(date +%s%N) - start) / 1000000)) ms"
[[ $status -eq 0 ]] || fail "the program under the rig ended with status $status"
if [[ ! -f "$rig_log" ]]; then
  fail "the driver wrote no log"
  exit 1
fi

requests() { grep '^request ' "$1" | tr -d '\r'; }
reference_count=$(requests "$reference_log" | wc -l)
rig_count=$(requests "$rig_log" | wc -l)
if [[ $reference_count -eq 0 ]]; then
  fail "the reference walk made no request (is the tree empty?)"
elif diff <(requests "$reference_log") <(requests "$rig_log") >"$work/requests.diff"; then
  pass "the driver got the reference's $reference_count requests, byte for byte"
else
  fail "the driver got $rig_count requests, the reference made $reference_count; first differences (< reference, > driver):"
  head -20 "$work/requests.diff"
fi

# The identification request: a descriptor request (0x220410) whose setup packet asks for
# wValue 0x03FF (string 0xFF), wIndex 0x0036, wLength 255 (bytes 6 to 11 of the input record:
# hex characters 13 to 24). Its reply must be the 12-byte request header (24 hex characters),
# then a string descriptor (bLength, type 03) that holds exactly the text in UTF-16LE.
text_hex=$(printf '%s' "$identification" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -d ' \n')
find_identification='
  $2 == "ok" && $3 == "0x220410" && substr($4, 13, 12) == "ff033600ff00" &&
    substr($6, 27, 2) == "03" && substr($6, 29) == text { found = 1 }
  END { exit found ? 0 : 1 }'
if [[ -z "$identification" ]]; then
  :
elif requests "$rig_log" | awk -v text="$text_hex" "$find_identification"; then
  pass "the identification string \"$identification\" was asked and answered"
else
  fail "no answered identification request carries \"$identification\""
fi

# Each node is closed as soon as the walk is done with it: every request goes to the node opened
# last and not yet closed, every close to that node, and nothing is left open. (Wine sends the
# driver a node's close before any later request, so a handle left open until the program ends
# shows as a request to the wrong node.) A path is what follows the fixed fields of its line.
check_nesting='
  function path_after(fields, line) { line = $0; while (fields-- > 0) sub(/^[^ ]* /, "", line); return line }
  function expect_open(path, what) {
    if (depth > 0 && stack[depth] == path) return
    print "     " what " " path " while " (depth > 0 ? stack[depth] : "nothing") " is the open node"
    bad = 1
    exit
  }
  $1 == "open" && $2 == "ok" { stack[++depth] = path_after(2); ++opened }
  $1 == "request" { expect_open(path_after(6), "request to") }
  $1 == "close" { expect_open(path_after(1), "close of"); --depth }
  END {
    if (bad) exit 1
    if (depth != 0) { print "     " depth " nodes left open"; exit 1 }
    if (opened == 0) { print "     no node opened"; exit 1 }
    print "     " opened " nodes opened"
  }'
if tr -d '\r' <"$rig_log" | awk "$check_nesting"; then
  pass "the walk closed each node it opened once it was done with it"
else
  fail "the walk did not close each node it opened once it was done with it"
fi

# What became of the requests that the driver kept pending: each must have met its cancel
# routine, and been ended by it or, where the node ignores cancellation, by the node's cleanup.
check_pending='
  function path_after(fields, line) { line = $0; while (fields-- > 0) sub(/^[^ ]* /, "", line); return line }
  $1 == "request" && $2 == "pending" { ++pending; ++open[path_after(6)] }
  $1 == "cancel" && $2 == "ended" { ++ended; --open[path_after(2)] }
  $1 == "cancel" && $2 == "ignored" { ++ignored }
  $1 == "cleanup" && $2 == "ended" { ++cleaned; --open[path_after(2)] }
  END {
    for (path in open) if (open[path] != 0) { print "     " open[path] " requests to " path " never ended"; bad = 1 }
    if (ended + ignored != pending) { print "     " pending - ended - ignored " pending requests met no cancel routine"; bad = 1 }
    printf "     %d pending: %d ended by their cancel routine, %d left by it and ended by the node'"'"'s cleanup (%d)\n",
           pending, ended, ignored, cleaned
    exit bad
  }'
if tr -d '\r' <"$rig_log" | awk "$check_pending"; then
  pass "every request kept pending was cancelled and ended"
else
  fail "a request kept pending was not cancelled, or not ended"
fi

if [[ $within_longest -eq 1 ]]; then
  read -r walk_ms longest_ms < <(sed -n 's/^walk ms=\([0-9]*\) longest=\([0-9]*\).*/\1 \2/p' "$work/rig.out" | tr -d '\r')
  if [[ -z "${walk_ms:-}" ]]; then
    fail "the program printed no walk time"
  elif [[ $walk_ms -le $longest_ms ]]; then
    pass "the walk took $walk_ms ms, within the longest a walk may take ($longest_ms ms)"
  else
    fail "the walk took $walk_ms ms, longer than a walk may take ($longest_ms ms)"
  fi
fi

if [[ $print_match_line -eq 1 ]]; then
  program_match=$(sed -n 's/^topology match=\([01]\).*/\1/p' "$work/rig.out" | tr -d '\r')
  if [[ "$program_match" == "$match" ]]; then
    pass "the walk through the driver left match=$program_match"
  else
    fail "the walk through the driver left match=${program_match:-?}, expected $match"
  fi
fi

echo "driver's log: $rig_log"
if [[ $failures -ne 0 ]]; then
  echo "$failures checks failed"
  exit 1
fi
echo "all checks passed"
