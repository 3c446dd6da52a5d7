#!/usr/bin/env bash
# Runs a Windows test program under Wine in a prefix of its own: wine-run.sh PREFIX PROGRAM ARGS...
# The prefix is made on first use without the z: drive and with empty user folders, so nothing
# that runs in it can reach the host's file system through a drive letter.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.nolvexa-ready" ]; then
    rm -rf "$prefix"
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$(dirname "$wine")/wineserver" -w || true
    rm -f "$prefix/dosdevices/z:"
    for link in "$prefix"/drive_c/users/*/*; do
      if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
    done
    touch "$prefix/.nolvexa-ready"
  fi
  # A host symbolic link to a folder, which Wine shows as a directory reparse point; Wine cannot
  # make one itself, so the file system tests find theirs here.
  links=$prefix/drive_c/nolvexa-links
  mkdir -p "$links/target"
  [ -L "$links/link" ] || ln -s target "$links/link"
) 9>"$prefix.lock"
exec "$wine" "$@"
