#!/usr/bin/env bash
# The Windows program on a Win32 implementation: installs PrintCourier silently into a fresh Wine
# prefix under a virtual display and checks, as a user and an application would meet them:
#   - the installed folder, the Start-menu entry and the uninstall entry;
#   - Quayport.dll loaded by the Windows loader, each export answering;
#   - start-up: the 960x600 window titled VARN_01.22.05.03 and today's log;
#   - a cloud printer set up in Wine's spooler through the Win32 API, and its card's listener on
#     127.0.0.1;
#   - only the spooler prints: a job from a Linux process (socat) and one from a Win32 process
#     (the fixture) are refused unread, nothing reaching the cloud stand-in and no detail record,
#     the log naming the sender's process (none for socat, the fixture's pid and image otherwise),
#     which proves the Windows build's TCP-table lookup finds Wine's owners (Wine names only a
#     process that holds the socket's descriptor and lists established connections only: the
#     fixture's sender allows for both, see winefixture.cpp);
#   - the spooler's job prints: the "Spooler" service pointed at the fixture, which runs as that
#     service and sends the job, is the process the program asks the service manager for; its job
#     reaches the cloud stand-in byte for byte under the printer's serial with the detail record
#     "打印成功", while another Win32 process sending meanwhile is still refused; the service's
#     own command line is put back afterwards;
#   - a second start: exit code 0, and the window hidden to the tray comes back;
#   - adding a printer from the form: Wine has no Standard TCP/IP port monitor, so the port step
#     fails, the user is told "添加打印机失败，无法添加端口" and no printer is left behind;
#   - the uninstaller: the program stopped, its files gone, the user's logs and records kept.
#
# Where Wine departs from documented Win32 behaviour the check says so and takes what Wine does;
# the documented behaviour is checked against winsim by the Linux suites.
#
#   winerun.sh INSTALLER LINUX_BUILD WORK_DIR
set -uo pipefail

installer="$1"
linux_build="$2"
work="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
started=$(date +%s)

title="VARN_01.22.05.03"
serial="0123456789ABCDEF"
printer_name="CloudOne"
printer_port=8121
cloud_port=8765   # the program's build-time service address

failures=0
ok() { echo "windows: ok - $*"; }
fail() { echo "windows: FAIL - $*"; failures=$((failures + 1)); }
check() { local what="$1"; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }
# Waits up to $1 seconds for the command to succeed.
wait_for() {
  local limit=$1 t=0; shift
  until "$@"; do
    t=$((t + 1))
    [ "$t" -gt $((limit * 4)) ] && return 1
    sleep 0.25
  done
}

rm -rf "$work"
mkdir -p "$work"
pids=()
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
}
trap cleanup EXIT

# A Chinese Windows: the program's log is in its code page (936), as it is there (the job history is
# UTF-8 whatever the code page). Wine
# takes its code page from the locale, which is compiled here rather than into the system.
mkdir -p "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" 2>/dev/null
export LOCPATH="$work/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_for 20 xdpyinfo >/dev/null 2>&1 || { fail "virtual display"; exit 1; }

echo "windows: creating a Wine prefix"
wineboot -i >/dev/null 2>&1
wineserver -w

program_files="$WINEPREFIX/drive_c/Program Files/PrintCourier"
win_folder='C:\Program Files\PrintCourier'
today="$(date +%Y-%m-%d)"
gbk() { iconv -f GBK -t UTF-8 "$@" 2>/dev/null; }
log_has() { [ -f "$program_files/logs/$today.log" ] && gbk "$program_files/logs/$today.log" | grep -qF -- "$1"; }

# ---- Installing.
wine "$installer" /S
check "installer /S exits 0" test $? -eq 0
for f in PrintCourier.exe Quayport.dll Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll Qt5Network.dll Qt5Sql.dll \
         libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll \
         sqldrivers/qsqlite.dll styles/qwindowsvistastyle.dll imageformats/qgif.dll \
         Translations/qt_zh_CN.qm Translations/qtbase_zh_CN.qm Driver/VarnPtr.INF uninstall.exe; do
  [ -f "$program_files/$f" ] || fail "installed $f"
done
check "installed folder has logs and details" test -d "$program_files/logs" -a -d "$program_files/details"
check "Start-menu entry" test -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/PrintCourier/PrintCourier.lnk"
check "uninstall entry" bash -c 'wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PrintCourier" /v UninstallString 2>/dev/null | grep -q uninstall.exe'

# ---- The Windows side of the fixture: a small program built here with the same compiler.
fixture="$work/winefixture.exe"
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Werror=format -DUNICODE -D_UNICODE \
  -I"$here/platform" -I"$here/quayport" -static -o "$fixture" "$here/tests/windows/winefixture.cpp" \
  -lwinspool -ladvapi32 -lws2_32 || { fail "building the fixture program"; exit 1; }

# ---- The program's own resources.
resources="$(wine "$fixture" resources "$win_folder\\PrintCourier.exe" | tr -d '\r')"
check "manifest asks for administrator rights" \
  bash -c 'echo "$1" | grep -q "requestedExecutionLevel level=\"requireAdministrator\""' _ "$resources"
check "program icon embedded" bash -c 'echo "$1" | grep -q "^icon group: yes$"' _ "$resources"

# ---- The port library under the Windows loader.
probe="$(wine "$fixture" quayport "$win_folder\\Quayport.dll" | tr -d '\r')"
echo "$probe" | sed 's/^/windows:   /'
export_result() { echo "$probe" | sed -n "s/^$1=\([-0-9]*\) .*/\1/p"; }
# Wine has no Standard TCP/IP monitor: opening ",XcvMonitor Standard TCP/IP Port" is refused, which
# the library reports as 1; the query's ",XcvPort" open is refused the same way.
for name in AddStandardTcpPort ConfigStandardTcpPort DeleteStandardTcpPort GetConfigStandardTcpPort; do
  check "$name answers 1 without the monitor" test "$(export_result $name)" = 1
done
check "refused query leaves the caller's buffer and number" \
  bash -c 'echo "$1" | grep -q "^GetConfigStandardTcpPort.host=untouched number=4242$"' _ "$probe"
check "StopDependentServices on a service without dependents answers 1" test "$(export_result StopDependentServices)" = 1
# Windows documents ERROR_UNKNOWN_PRINTER_DRIVER (1797) for a driver that is not installed; Wine's
# DeletePrinterDriverExW reports ERROR_INVALID_PARAMETER (87). Only the failure itself is checked.
check "QDeletePrinterDriver of no such driver answers 0" test "$(export_result QDeletePrinterDriver)" = 0

# ---- A cloud printer in Wine's spooler, and the cloud stand-in at the program's service address.
setup="$(wine "$fixture" add-printer "$printer_name" "$serial" "$printer_port" | tr -d '\r')"
check "cloud printer set up through the Win32 API ($setup)" bash -c '[[ "$1" == added* ]]' _ "$setup"
if ss -ltn "sport = :$cloud_port" | grep -q LISTEN; then
  fail "port $cloud_port is taken; the cloud stand-in cannot start"
fi
jobs_dir="$work/cloudsim-jobs"
"$linux_build/bin/cloudsim" --port "$cloud_port" --default-device online --pending-polls 1 \
  --jobs-dir "$jobs_dir" --quiet --exit-with-parent > "$work/cloudsim.out" 2>&1 &
pids+=($!)
wait_for 20 grep -q listening "$work/cloudsim.out" || fail "cloud stand-in started"

# ---- Start-up.
window_id() { xdotool search --name "^$title\$" 2>/dev/null | head -n 1; }
mapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
listening() { ss -ltn "sport = :$printer_port" | grep -q '127.0.0.1'; }
not_listening() { ! listening; }
# Started in its own folder, as the Start-menu entry does: task.db lies in the current folder.
(cd "$program_files" && exec wine PrintCourier.exe > "$work/program.out" 2>&1) &
pids+=($!)
wait_for 90 bash -c '[ -n "$(xdotool search --name "^$1\$" 2>/dev/null)" ]' _ "$title"
win="$(window_id)"
check "main window titled $title" test -n "$win"
geometry="$(xdotool getwindowgeometry "$win" 2>/dev/null | sed -n 's/.*Geometry: //p')"
check "main window is 960x600 ($geometry)" test "$geometry" = 960x600
check "today's log has the start-up line" wait_for 10 log_has "application run argc="
check "card's listener on 127.0.0.1:$printer_port" wait_for 30 listening

# ---- Only the spooler prints. Each job has its own size, so the stand-in's index tells them apart.
win_path() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
detail="$program_files/details/$serial$today.txt"
jobs_of_size() { awk -F'\t' -v s="$serial" -v n="$1" '$2 == s && $3 == n' "$jobs_dir/index.tsv" 2>/dev/null | wc -l; }
printed_of_size() { cat "$detail" 2>/dev/null | grep -c ";打印成功;$1;"; }
refusal() { echo "$printer_name refused 1 connection(s) from process $1 ($2): only the spooler (process $3) may print"; }
refusals() { gbk "$program_files/logs/$today.log" | grep -c " refused [0-9]* connection(s) from process "; }
sender_pid() { echo "$1" | sed -n 's/^process \([0-9][0-9]*\) .*/\1/p'; }
fixture_image="$(win_path "$fixture")"
# Wine's own spooler is started on demand; stopped, no process is the spooler's until ours runs.
wine net stop spooler >/dev/null 2>&1
spooler_state="$(wine "$fixture" service-process Spooler | tr -d '\r')"
check "the Spooler service is stopped to begin with ($spooler_state)" test "$spooler_state" = "state 1 process 0"

# A Linux process: Wine knows no owner for its end.
head -c 100001 /dev/urandom > "$work/job-socat.bin"
socat -u FILE:"$work/job-socat.bin" TCP:127.0.0.1:$printer_port 2>/dev/null
check "a job from socat is refused, its process unknown" \
  wait_for 30 log_has "$(refusal 0 unknown 0)"

# A Win32 process: the TCP table names it, and the program its image.
head -c 200002 /dev/urandom > "$work/job-wine.bin"
sent="$(wine "$fixture" send $printer_port "$(win_path "$work/job-wine.bin")" | tr -d '\r')"
echo "windows:   $sent"
stranger="$(sender_pid "$sent")"
check "the program ended the Win32 sender's connection unread ($sent)" \
  bash -c '[[ "$1" == *" before our end" ]]' _ "$sent"
check "a job from a Win32 process is refused, the log naming its pid and image" \
  wait_for 30 log_has "$(refusal "${stranger:-?}" "$fixture_image" 0)"
sleep 2   # a job taken by mistake would have reached the stand-in by now
check "nothing of the refused jobs reached the cloud stand-in" \
  test "$(jobs_of_size 100001)" -eq 0 -a "$(jobs_of_size 200002)" -eq 0
check "no detail record for the refused jobs" test ! -e "$detail"

# The spooler itself: the fixture as the Spooler service, sending as it starts.
refused_before="$(refusals)"
head -c 300000 /dev/urandom > "$work/job.bin"
spooler_binary="$(wine "$fixture" service-binary Spooler | tr -d '\r')"
echo "windows:   the Spooler service runs $spooler_binary"
report="$work/spooler-report.txt"
rm -f "$report"
service_line="\"$fixture_image\" spooler-service $printer_port \"$(win_path "$work/job.bin")\" \"$(win_path "$report")\""
wine "$fixture" service-binary Spooler "$service_line" >/dev/null
check "the Spooler service now runs the fixture" \
  bash -c '[ "$(wine "$1" service-binary Spooler | tr -d "\r")" = "$2" ]' _ "$fixture" "$service_line"
wine net start spooler >/dev/null 2>&1
check "the fixture started as the Spooler service" test $? -eq 0
wait_for 60 test -s "$report"
spooler_sent="$(tr -d '\r' < "$report" 2>/dev/null)"
echo "windows:   $spooler_sent"
spooler_pid="$(sender_pid "$spooler_sent")"
spooler_state="$(wine "$fixture" service-process Spooler | tr -d '\r')"
check "the service manager names the sender as the spooler's process ($spooler_state)" \
  test -n "$spooler_pid" -a "$spooler_state" = "state 4 process $spooler_pid"
check "the spooler sent the whole job and the program closed in order" \
  bash -c '[[ "$1" == *" sent 300000 of 300000 bytes; peer closed" ]]' _ "$spooler_sent"
check "job reached the cloud stand-in under $serial" \
  wait_for 30 bash -c 'grep -q "	$1	300000	" "$2/index.tsv" 2>/dev/null' _ "$serial" "$jobs_dir"
job_id="$(awk -F'\t' -v s="$serial" '$2 == s && $3 == 300000 { print $1 }' "$jobs_dir/index.tsv" 2>/dev/null | head -n 1)"
check "the service holds exactly the job's bytes" cmp -s "$work/job.bin" "$jobs_dir/$job_id.bin"
check "detail record 打印成功 with the job's size" \
  wait_for 30 bash -c 'grep -q ";打印成功;300000;" "$1" 2>/dev/null' _ "$detail"
check "no connection refused meanwhile" test "$(refusals)" -eq "$refused_before"

# While the spooler runs, another Win32 process is still refused: it is the process that counts.
sent="$(wine "$fixture" send $printer_port "$(win_path "$work/job-wine.bin")" | tr -d '\r')"
echo "windows:   $sent"
stranger="$(sender_pid "$sent")"
check "the program ended that connection unread too" bash -c '[[ "$1" == *" before our end" ]]' _ "$sent"
check "a Win32 process beside the running spooler is refused, the log naming both" \
  wait_for 30 log_has "$(refusal "${stranger:-?}" "$fixture_image" "${spooler_pid:-?}")"
sleep 2
check "the stand-in holds the spooler's job alone" \
  test "$(jobs_of_size 200002)" -eq 0 -a "$(jobs_of_size 300000)" -eq 1
check "one detail record, the spooler's" \
  test "$(printed_of_size 200002)" -eq 0 -a "$(printed_of_size 300000)" -eq 1

wine net stop spooler >/dev/null 2>&1
check "the fixture's Spooler service stops" \
  wait_for 30 bash -c '[ "$(wine "$1" service-process Spooler | tr -d "\r")" = "state 1 process 0" ]' _ "$fixture"
wine "$fixture" service-binary Spooler "$spooler_binary" >/dev/null
check "the Spooler service's own command line is back" \
  bash -c '[ "$(wine "$1" service-binary Spooler | tr -d "\r")" = "$2" ]' _ "$fixture" "$spooler_binary"

# ---- Clicks: the window's origin plus the place of the control in the 960x600 window.
click() {
  local x y
  eval "$(xdotool getwindowgeometry --shell "$win")"
  x=$((X + $1)); y=$((Y + $2))
  xdotool mousemove "$x" "$y"; sleep 0.3
  xdotool mousedown 1; sleep 0.1; xdotool mouseup 1; sleep 0.5
}

# ---- A second start brings back the window that was hidden to the tray.
click 920 28   # the close mark: hides to the tray
check "closing hides the window" wait_for 10 bash -c '! xwininfo -id "$1" | grep -q IsViewable' _ "$win"
(cd "$program_files" && timeout 60 wine PrintCourier.exe --second-start > "$work/second.out" 2>&1)
check "second start exits 0" test $? -eq 0
check "second start logged its arguments" log_has '"--second-start"'
check "the first instance's window is shown again" wait_for 15 mapped "$win"

# ---- Adding a printer from the form: the port step fails without the monitor.
click 95 353    # "添加打印机" in the side bar
click 620 215; xdotool type --delay 50 "WineAdd"
click 620 275; xdotool type --delay 50 "fedcba9876543210"
click 575 416   # "添加确认"
check "the user is told 添加打印机失败，无法添加端口" \
  wait_for 60 log_has 'ErrorDialog showMessage "添加打印机失败，无法添加端口"'
printers="$(wine "$fixture" printers | tr -d '\r')"
check "no printer left behind by the failed add" bash -c '! echo "$1" | grep -q WineAdd' _ "$printers"
check "the cloud printer is still there" bash -c 'echo "$1" | grep -q "^$2	"' _ "$printers" "$printer_name"
xdotool key Return; sleep 0.5

# ---- Uninstalling. The uninstaller runs from a copy of itself in the temporary folder and returns
# at once (its "_?=" switch would keep it in place, but Wine quotes an argument with spaces and the
# switch is then not recognised): wait until every Wine process has ended.
wine "$program_files/uninstall.exe" /S
check "uninstaller exits 0" test $? -eq 0
timeout 120 wineserver -w
check "the program was stopped" wait_for 15 not_listening
for f in PrintCourier.exe Quayport.dll Qt5Core.dll platforms Translations Driver; do
  [ -e "$program_files/$f" ] && fail "uninstalled $f"
done
check "the user's logs and records stay" test -f "$program_files/logs/$today.log" -a -f "$detail"
check "Start-menu entry removed" test ! -e "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/PrintCourier"

echo "windows: Wine run took $(( $(date +%s) - started )) s, $failures failed"
[ "$failures" -eq 0 ]
