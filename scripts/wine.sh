# Private Wine prefixes, sourced by the scripts that run Tarvex.exe under Wine.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# wine_end: ends the server of $WINEPREFIX and removes the folder that holds
# its socket, which the server leaves behind: Debian's Wine makes it under
# $TMPDIR (or /tmp) as wine-XXXXXX and names it in the prefix's "wineserver"
# file. Call it with the TMPDIR the server was started with.
wine_end() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  local name=""
  [ -f "$WINEPREFIX/wineserver" ] && name="$(cat "$WINEPREFIX/wineserver")"
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  case "$name" in
    wine-??????) rm -rf "${TMPDIR:-/tmp}/$name" ;;
  esac
  return 0
}

# wine_host (with "root" set): finds out whether this host runs 32-bit code
# itself. A host whose kernel refuses
# i386 programs cannot run the 32-bit Tarvex.exe, or runs it only through a
# user-mode emulator (qemu-i386 registered with binfmt_misc), where booting
# a prefix alone takes many minutes. There the 64-bit build of the same
# Windows code (build/windows64) stands in, run by the 64-bit loader, which
# Debian's wine wrapper would not pick.
#   wine_host  sets WINE_I386 to 1 or 0; with 0, puts a "wine" that runs the
#              64-bit loader first on PATH
wine_host() {
  if ! grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 &&
    /usr/lib/wine/wine --version >/dev/null 2>&1; then
    WINE_I386=1
    return
  fi
  WINE_I386=0
  mkdir -p "$root/build/wine64-bin"
  printf '#!/bin/sh\nWINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$@"\n' \
    >"$root/build/wine64-bin/wine"
  chmod +x "$root/build/wine64-bin/wine"
  export PATH="$root/build/wine64-bin:$PATH"
}
