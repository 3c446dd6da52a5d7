#!/usr/bin/env bash
# Builds the Windows program and runs it on a throwaway Wine machine, then shows what it changed
# and checks that against what the run must do; any failed check fails the script.
# The machine has two drives only: c:, which holds infected and clean files, and the removable
# e:, whose root holds an infected shortcut beside the hidden folder with the user's files. Its
# z: link to the host's root is removed and its user folders, which Wine links to the host's
# home, are replaced by empty ones, so the program cannot reach the host's files. An orphan
# infected process runs while the program scans, and another process holds one infected file
# open, so that it resists deletion. "pause" is answered with a key press.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target nolvexa-removal nolvexa-demo-process
cmake --preset native >/dev/null
cmake --build --preset native --target nolvexa-demo-files

demo=$root/build/demo
prefix=$demo/prefix
usb=$demo/usb
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
helpers=()

# Whatever happens, end the helpers this script started and let the machine shut down.
finish() {
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -d "$prefix" ]; then
    timeout 60 "$wineserver" -w 2>/dev/null || "$wineserver" -k 2>/dev/null || true
  fi
}
trap finish EXIT

if [ -d "$prefix" ]; then "$wineserver" -k 2>/dev/null || true; fi
rm -rf "$demo"
mkdir -p "$demo"
echo "demo: making a Wine machine in $prefix"
"$wine" wineboot -i >/dev/null 2>&1 || true
"$wineserver" -w
rm -f "$prefix/dosdevices/z:"
for link in "$prefix"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
done
for other in "$prefix"/dosdevices/?:; do
  [ "$(basename "$other")" = "c:" ] || rm -f "$other"
done

echo "demo: writing the files of drives c: and e:"
mkdir -p "$usb"
"$root/build/native/bin/nolvexa-demo-files" "$prefix/drive_c" "$usb"
# A host symbolic link to c:'s root, which Wine shows as a reparse point: the walk must not
# follow it, or it would never end.
ln -s ../.. "$prefix/drive_c/users/Public/loop"
mkdir -p "$prefix/drive_c/nolvexa"
cp "$root/build/win64/bin/nolvexa-removal.exe" "$root/build/win64/bin/nolvexa-demo-process.exe" \
  "$prefix/drive_c/nolvexa/"

# The removable drive: a letter linked to a folder and typed "floppy"; it counts once the
# wineserver has restarted.
ln -s "$usb" "$prefix/dosdevices/e:"
"$wine" reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d floppy /f >/dev/null 2>&1
"$wineserver" -w
cd "$prefix/drive_c"
"$wine" cmd /c 'attrib +r c:\users\Public\readonly.exe' >/dev/null 2>&1
# One flag per call: Wine's attrib applies only one of "+h +s".
"$wine" cmd /c 'attrib +h e:\data' >/dev/null 2>&1
"$wine" cmd /c 'attrib +s e:\data' >/dev/null 2>&1
"$wine" cmd /c 'attrib +h e:\desktop.ini' >/dev/null 2>&1
"$wineserver" -w
echo "demo: drives: $(cd "$prefix/dosdevices" && ls -d ?: | tr '\n' ' ')"
helper='c:\nolvexa\nolvexa-demo-process.exe'
folder=$("$wine" "$helper" attributes 'e:\data' | tr -d '\r')
# Only a folder of exactly hidden, system and directory (0x16) is restored.
echo "demo: e:\data has the attributes $folder"
readonly_attributes=$("$wine" "$helper" attributes 'c:\users\Public\readonly.exe' | tr -d '\r')
echo "demo: c:\users\Public\readonly.exe has the attributes $readonly_attributes (0x1: read-only)"
"$wineserver" -w

# Wine's process snapshot has no idle process: the program skips the first record, so the
# first process of this fresh wineserver is a harmless one, the holder of the locked file.
echo "demo: holding c:\\users\\Public\\locked.exe open for at most 1200 seconds"
holdlog=$demo/hold.log
"$wine" "$helper" hold 'c:\users\Public\locked.exe' 1200 \
  >"$holdlog" 2>&1 &
helpers+=($!)
for _ in $(seq 100); do
  grep -q holding "$holdlog" 2>/dev/null && break
  sleep 0.2
done
grep -q holding "$holdlog" || { echo "demo: the holder did not start"; cat "$holdlog"; exit 1; }
# Its output goes to a file: the orphan inherits the descriptor, and a pipe would stay open.
"$wine" "$helper" infected 1200 >"$demo/orphan.txt"
orphan=$(tr -d '\r' <"$demo/orphan.txt")
echo "demo: started the infected orphan process $orphan (it ends by itself after 1200 seconds)"

# What c: and e: hold before the run, with a digest of each file, so that every file the program
# must keep is seen to be kept unchanged.
export LC_ALL=C
sums() { find "$@" -type f -print0 | sort -z | xargs -0 sha1sum; }
(cd "$prefix/drive_c" && sums users/Public "Program Files/Nolvexa Demo") >"$demo/c-before.sums"
(cd "$usb" && sums .) >"$demo/e-before.sums"
(cd "$usb" && find . -mindepth 1 | sort) >"$demo/e-before.txt"
# An infected image on the host, outside every drive of the machine: it must survive the run.
mkdir -p "$demo/host"
cp "$prefix/drive_c/Program Files/Nolvexa Demo/updater.exe" "$demo/host/updater.exe"
(cd "$demo/host" && sums .) >"$demo/host.sums"

echo "demo: running c:\\nolvexa\\nolvexa-removal.exe"
echo "----------------------------------------------------------------"
console=$demo/console.txt
status=0
started=$SECONDS
run='/usr/lib/wine/wine64 c:\\nolvexa\\nolvexa-removal.exe'
if command -v script >/dev/null; then
  # On a pseudo-terminal Wine gives the program a console whose cursor works, so the progress
  # line is redrawn in place; with output to a file every entry would print a cursor error.
  printf '\n' | script -qfec "$run" "$console" || status=$?
else
  printf '\n' | "$wine" 'c:\nolvexa\nolvexa-removal.exe' | tee "$console" || status=$?
fi
took=$((SECONDS - started))
echo
echo "----------------------------------------------------------------"
echo "demo: the program exited with $status after $took seconds"

# The console as text: Wine draws blanks as cursor steps; every other control sequence goes, and
# so do the lines script adds.
perl -ne 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\][^\a]*\a//g; s/\e\[[0-9;?]*[A-Za-z]//g; s/\r//g;
  print unless /^Script (started|done) on /' "$console" >"$demo/console-text.txt"
echo "demo: the end of the program's output, as text:"
sed -n '/^Scanning USB drive/,$p' "$demo/console-text.txt" | sed 's/^/  | /'

# The files of a digest list in state $3 ("OK", or "FAILED open or read" for a gone one).
in_state() { (cd "$1" && sha1sum -c "$2" 2>/dev/null || true) | sed -n "s/: $3\$//p"; }
cgone=$(in_state "$prefix/drive_c" "$demo/c-before.sums" 'FAILED open or read')
ckept=$(in_state "$prefix/drive_c" "$demo/c-before.sums" 'OK')
echo "demo: files on c: that are gone:"
# Windows refuses to delete a read-only file; under Wine the null DACL clears read-only too.
echo "$cgone" | sed 's/^/  - /; s|readonly\.exe$|& (read-only: under Wine the null DACL clears that)|'
echo "demo: files on c: that are kept unchanged:"
echo "$ckept" | sed 's/^/  + /'
echo "demo: drive e: before and after:"
(cd "$usb" && find . -mindepth 1 | sort) >"$demo/e-after.txt"
diff "$demo/e-before.txt" "$demo/e-after.txt" | sed -n 's/^</  gone:/p; s/^>/  new: /p' || true

failures=0
check() {  # check DESCRIPTION COMMAND...: prints ok or FAILED; any failure fails the demo
  local what=$1
  shift
  if "$@"; then
    echo "demo: ok: $what"
  else
    echo "demo: FAILED: $what"
    failures=$((failures + 1))
  fi
}
lines() { grep -c "$@" "$demo/console-text.txt" || true; }
text=$demo/console-text.txt

check "the program ended with exit code 0" [ "$status" = 0 ]
check "the three infected images on c: are gone" [ "$cgone" = "Program Files/Nolvexa Demo/plugins/helper.dll
Program Files/Nolvexa Demo/updater.exe
users/Public/readonly.exe" ]
check "the clean, misplaced, non-PE and held-open files on c: are kept unchanged" \
  [ "$ckept" = "Program Files/Nolvexa Demo/clean.exe
Program Files/Nolvexa Demo/misplaced.dll
users/Public/locked.exe
users/Public/notes.dat
users/Public/readme.txt" ]
check "the summary lists the infected orphan $orphan, and only it" \
  [ "$(lines -Fx "Process with \"PID\"  =  $orphan Deleted.")" = 1 -a "$(lines '^Process with ')" = 1 ]
held='Can not delete file with "filepath"  :  c:\\users\Public\locked.exe'
check "the summary lists the held-open file, and only it" \
  [ "$(lines -Fx "$held")" = 1 -a "$(lines '^Can not delete ')" = 1 ]
check "the removable drive is reported disinfected" \
  [ "$(lines -Fx 'USB drive disinfected successfully.')" = 1 ]
check "the shortcut and the folder-view files on e: are gone" \
  [ ! -e "$usb/Photos.lnk" -a ! -e "$usb/desktop.ini" -a ! -e "$usb/Thumbs.db" ]
restored=$demo/e-restored.sums
grep '  \./data/' "$demo/e-before.sums" | sed 's|  \./data/|  ./Velmora Nolvexa Removal/|' >"$restored"
check "e:\\data is restored whole as e:\\Velmora Nolvexa Removal" \
  [ ! -e "$usb/data" -a "$(in_state "$usb" "$restored" OK | wc -l)" = 2 ]
if "$wine" "$helper" running "$orphan"; then running=yes; else running=no; fi
check "the infected orphan $orphan no longer runs" [ "$running" = no ]
check "the infected image on the host, outside the machine, is untouched" \
  [ "$(in_state "$demo/host" "$demo/host.sums" OK)" = ./updater.exe ]
check "the machine still has only the drives c: and e:" \
  [ "$(cd "$prefix/dosdevices" && ls -d ?: | tr '\n' ' ')" = "c: e: " ]

# The holder is the last process the demo started; once it is gone the machine must shut down.
for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
for pid in "${helpers[@]}"; do wait "$pid" 2>/dev/null || true; done
helpers=()
if timeout 60 "$wineserver" -w; then down=yes; else down=no; fi
check "nothing is left running: the machine shut down once the holder ended" [ "$down" = yes ]
if [ "$failures" -ne 0 ]; then
  echo "demo: $failures checks failed"
  exit 1
fi
echo "demo: all checks passed"
