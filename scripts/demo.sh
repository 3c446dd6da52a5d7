#!/usr/bin/env bash
# Builds the Windows program and runs it on a throwaway Wine machine, then shows what it changed.
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

before=$demo/before.txt
after=$demo/after.txt
(cd "$prefix/drive_c" && find users/Public "Program Files/Nolvexa Demo" -type f | sort) >"$before"
(cd "$usb" && find . -mindepth 1 | sort) >"$demo/usb-before.txt"

echo "demo: running c:\\nolvexa\\nolvexa-removal.exe"
echo "----------------------------------------------------------------"
status=0
run='/usr/lib/wine/wine64 c:\\nolvexa\\nolvexa-removal.exe'
if command -v script >/dev/null; then
  # On a pseudo-terminal Wine gives the program a console whose cursor works, so the progress
  # line is redrawn in place; with output to a file every entry would print a cursor error.
  printf '\n' | script -qfec "$run" /dev/null || status=$?
else
  printf '\n' | "$wine" 'c:\nolvexa\nolvexa-removal.exe' || status=$?
fi
echo
echo "----------------------------------------------------------------"
echo "demo: the program exited with $status"

(cd "$prefix/drive_c" && find users/Public "Program Files/Nolvexa Demo" -type f | sort) >"$after"
echo "demo: files on c: that are gone:"
comm -23 "$before" "$after" | sed 's/^/  - /'
echo "demo: files on c: that are kept:"
comm -12 "$before" "$after" | sed 's/^/  + /'
echo "demo: drive e: before and after:"
(cd "$usb" && find . -mindepth 1 | sort) >"$demo/usb-after.txt"
diff "$demo/usb-before.txt" "$demo/usb-after.txt" | sed -n 's/^</  gone:/p; s/^>/  new: /p'
if [ -d "$usb/Velmora Nolvexa Removal" ]; then
  echo "demo: e:\\Velmora Nolvexa Removal holds: $(ls "$usb/Velmora Nolvexa Removal" | tr '\n' ' ')"
fi
if "$wine" "$helper" running "$orphan"; then
  echo "demo: the infected orphan $orphan still runs"
else
  echo "demo: the infected orphan $orphan no longer runs"
fi
