#!/usr/bin/env bash
# Runs the Windows build's test suite under 32-bit Wine in the chroot, each
# test with a time-out (a crash ends the test: winedbg's dialog is off), then
# the orvex command on the simulated world, compared line for line with the
# Linux build's when there is one. Fails if anything fails.
# Needs scripts/windows-build.sh first. Extra arguments go to ctest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/windows-env.sh
source "$here/scripts/windows-env.sh"
build=${ORVEX_WIN_BUILD_DIR:-$here/build-win32}
linux_build=${ORVEX_BUILD_DIR:-$here/build}

# Test cases not run under Wine, each group with the reason. Every other case
# of every test program runs.
not_under_wine=(
  # Wine differs from Windows here; the test and the POSIX layer follow Windows.
  FormatMessageA.GivesTheEnglishSystemTexts            # Wine's own English texts ("Access denied.")
  FormatMessageA.AcceptsTheNeutralAndEnglishLanguagesOnly # Wine has French texts; Windows en-US has none
  FormatMessageA.MaxWidthTurnsTheFinalLineBreakIntoABlank
  FormatMessageA.AllocatesTheBufferWhenAsked
  FormatMessageA.FillsInsertsFromAnArgumentArrayOrKeepsThem
  Waits.RejectBadArguments                             # Wine waits on one handle twice with bWaitAll
  Threads.PriorityIsSetBeforeResumingAndReadBack       # Wine refuses the saturation level 16
  TimersTest.DestroyingTheWindowStopsItsTimers         # Wine's KillTimer says ERROR_INVALID_HANDLE
  TimersTest.ATimerProcedureIsCalledInsteadOfTheWindowProcedure # Wine calls a posted WM_TIMER's address
  MessagesTest.AFullQueueRefusesFurtherPosts           # Wine has no 10000-message queue limit
  MessagesTest.ThreadMessagesReachThreadsThatHaveAQueue # Wine: ERROR_INVALID_PARAMETER, not ERROR_INVALID_THREAD_ID
  MessagesTest.ADestroyedWindowRefusesPostsAndLosesWhatWasQueued # Wine drops what was queued
  TimersTest.KillTimerLeavesAQueuedTimerMessageForTheCallerToRemove # Wine removes it
  ThreadTimes.AnEndedThreadKeepsItsTimes               # Wine has no times for an ended thread
  # Timing: under Wine on a loaded machine the stream thread is late by more
  # than the test allows for while still under its stall threshold.
  CameraStream.FreeRunKeepsTheFramePeriodAndCountsImages
  # What the POSIX layer itself promises beyond Windows, or refuses as outside the subset.
  FormatMessageA.RefusesMessageSourcesItDoesNotHave    # the subset has system texts only
  LastError.FailuresReportTheWin32Numbers              # the subset has no named events
  CriticalSectionDeathTest.*                           # Windows does not abort (undefined behaviour)
  Handles.AClosedHandleIsInvalidAfterwards             # Windows reuses handle values
  Threads.UnsupportedCreationArgumentsFailLoudly
  Windows.UnknownClassesAndUnsupportedShapesFailLoudly # child windows exist on Windows
  Windows.DefaultProcessingOfCloseDestroysTheWindow    # DefWindowProc without a window
  ModulesTest.ADllNameLoadsTheSharedObjectOfThatName   # Windows file names ignore case
  ModulesTest.MissingLibrariesAndProceduresReportTheirErrors # Windows has ordinals
  MessagesTest.MsgWaitWakesForAHandleOrForNewMessages  # Windows supports bWaitAll
  # Windows differs from the POSIX layer, which is to follow it: top-level
  # windows get WS_CLIPSIBLINGS; creation also sends WM_NCCALCSIZE, WM_SIZE and
  # WM_MOVE; GetClassInfoExA(NULL, ...) finds system classes only; SetTimer
  # works on a window of another thread of the process.
  HiddenWindow.WindowsOfOneKindShareOneClassAndKnowTheirOwner
  Windows.FieldsByIndex
  Windows.CreationAndDestructionReachTheProcedureInOrder
  Windows.ARefusedCreationLeavesNoWindow
  WindowClasses.AreRegisteredOncePerProcessAndLookedUpByName
  FlyCapVideoServerTest.CaptureSwitchesTheServerWindowAndItsClass
  FlyCapCameraTest.AFailingConstructionLeavesNothingBehind
  TimersTest.OnlyTheOwningThreadSetsTimersOnAWindow
)
GTEST_FILTER="-$(IFS=:; echo "${not_under_wine[*]}")"
export GTEST_FILTER

windows_lock
windows_mount
trap windows_unmount EXIT

# Not for Windows: "consumer" installs and builds a host with the Linux
# toolchain (windows_consumer is its counterpart).
echo "== [$(date +%T)] windows: tests under Wine"
# A test program whose Wine client lost its wineserver ("wine client error")
# never ran: those, and only those, are run once more. Any other failure
# stands.
wine_log=$(mktemp)
if ! ctest --test-dir "$build" --output-on-failure -j2 --timeout "${ORVEX_WIN_TIMEOUT:-300}" -E '^consumer$' "$@" |
  tee "$wine_log"; then
  if grep -q '^wine client error' "$wine_log" &&
    [ "$(grep -c '^wine client error' "$wine_log")" -eq "$(grep -cE '^[[:space:]]+[0-9]+ - .*\((Failed|Exception)\)' "$wine_log")" ]; then
    echo "== [$(date +%T)] windows: Wine lost its server under a test; running the failed ones again"
    rm -f "$wine_log"
    ctest --test-dir "$build" --output-on-failure -j1 --timeout "${ORVEX_WIN_TIMEOUT:-300}" --rerun-failed
  else
    rm -f "$wine_log"
    exit 1
  fi
fi
rm -f "$wine_log"

# The command as a user runs it, on the built-in world (no world file).
run_tool() {
  (cd "$build/bin" && env -u ORVEX_SIM_WORLD "$here/scripts/windows-run.sh" orvex.exe "$@") | tr -d '\r'
}
compare_tool() {
  local windows linux
  windows=$(run_tool "$@")
  printf '%s\n' "$windows"
  [ -x "$linux_build/bin/orvex" ] || return 0
  linux=$(env -u ORVEX_SIM_WORLD "$linux_build/bin/orvex" "$@")
  if [ "$windows" != "$linux" ]; then
    echo "windows: 'orvex $*' prints otherwise than on Linux:" >&2
    diff <(printf '%s\n' "$linux") <(printf '%s\n' "$windows") >&2 || true
    return 1
  fi
  echo "(the same as on Linux)"
}
echo "== [$(date +%T)] windows: orvex.exe list"
compare_tool list
if run_tool --help | grep -q '^  grab'; then
  echo "== [$(date +%T)] windows: orvex.exe grab 0 --count 10"
  compare_tool grab 0 --count 10
else
  echo "== [$(date +%T)] windows: orvex.exe info 0"
  compare_tool info 0
fi
echo "== [$(date +%T)] windows: all passed"
