# Wine for the Windows build, sourced by scripts/windows-test.sh and scripts/windows-run.sh.
# Wine's output goes to files, never through a pipe: wineserver and its helpers inherit it and
# would hold a pipe open. Every Wine program runs bounded.

export WINEDEBUG=-all
# No mono or gecko installer prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

windows_path() { echo "Z:${1//\//\\}"; }
wine_bounded() { timeout -k 10 "$1" wine "${@:2}"; }
# Waiting for the session to end is bounded too; what is left then is ended.
wine_settle() { timeout 120 wineserver -w || wineserver -k; }

# wine_prepare_prefix DLL LOG: a new prefix at $WINEPREFIX with the null graphics driver (without
# a display every video renderer fails to create; the null driver needs none) and the simulated
# cameras' filter DLL registered. Says why and fails when a step fails.
wine_prepare_prefix() {
  local dll=$1 log=$2
  timeout -k 10 300 wineboot -i >"$log" 2>&1
  wine_settle
  # The desktop reads the setting when it starts, so the session that wrote it ends first.
  wine_bounded 120 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$log" 2>&1
  wine_settle
  wine_register_cameras "$dll" "$log"
}

wine_register_cameras() {
  local dll=$1 log=$2
  if ! wine_bounded 120 regsvr32 /s "$(windows_path "$dll")" >>"$log" 2>&1; then
    echo "registering the simulated cameras ($dll) failed:"
    tail -5 "$log"
    wine_settle
    return 1
  fi
}
