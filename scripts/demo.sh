#!/usr/bin/env bash
# Builds the Windows program and runs it on a throwaway Wine machine whose only drive is c:
# (the prefix's z: link to the host's root is removed first, and its user folders, which Wine
# links to the host's home, are replaced by empty ones), answering "pause" with a key press.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target nolvexa-removal

demo=$root/build/demo
prefix=$demo/prefix
wine=/usr/lib/wine/wine64
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$demo"
mkdir -p "$demo"
echo "demo: making a Wine machine in $prefix"
"$wine" wineboot -i >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w
rm -f "$prefix/dosdevices/z:"
for link in "$prefix"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
done
for other in "$prefix"/dosdevices/?:; do
  [ "$(basename "$other")" = "c:" ] || rm -f "$other"
done

mkdir -p "$prefix/drive_c/nolvexa"
cp "$root/build/win64/bin/nolvexa-removal.exe" "$prefix/drive_c/nolvexa/"
echo "demo: running c:\\nolvexa\\nolvexa-removal.exe"
echo "----------------------------------------------------------------"
status=0
cd "$prefix/drive_c"
printf "\n" | "$wine" 'c:\nolvexa\nolvexa-removal.exe' || status=$?
/usr/lib/wine/wineserver -w
echo
echo "----------------------------------------------------------------"
echo "demo: the program exited with $status"
