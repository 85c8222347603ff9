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
