#!/usr/bin/env bash
# Runs the real OBS program with the built plug-in installed as a user plug-in, quits it the way
# a user does (SIGINT) and checks what the plug-in left behind: its load and unload lines in the
# host log, the settings file rewritten with protected keys at owner-only mode, its dock in the
# saved window layout, and a clean exit without a crash report.
#
# Usage: plugin_obs_e2e_test.sh /path/to/relaycast.so
set -uo pipefail

plugin=${1:?usage: $0 /path/to/relaycast.so}
[[ -f $plugin ]] || { echo "FAIL: no plug-in file at $plugin"; exit 1; }
command -v obs >/dev/null || { echo "FAIL: the obs program is not installed"; exit 1; }

# Without a display, run again under a virtual one of our own.
if [[ -z ${DISPLAY:-} ]]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$0" "$@"
fi

work=$(mktemp -d)
obs_pid=
cleanup() {
    if [[ -n $obs_pid ]] && kill -0 "$obs_pid" 2>/dev/null; then
        kill -KILL "$obs_pid" 2>/dev/null
        wait "$obs_pid" 2>/dev/null
    fi
    # The host logs go where the key-leak scan of the test run reads them.
    if [[ -n ${RELAYCAST_TEST_LOG_DIR:-} ]]; then
        mkdir -p "$RELAYCAST_TEST_LOG_DIR"
        for file in "$config"/logs/*.txt "$work"/obs*.out; do
            [[ -f $file ]] && cp "$file" "$RELAYCAST_TEST_LOG_DIR/obs-e2e-$(basename "$file")"
        done
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

home=$work/home
config=$home/.config/obs-studio
mkdir -p "$config/plugins/relaycast/bin/64bit" "$config/plugin_config/relaycast"
cp "$plugin" "$config/plugins/relaycast/bin/64bit/relaycast.so"

# No first-run wizard, no update check, no exit prompt.
cat >"$config/global.ini" <<'INI'
[General]
FirstRun=true
LastVersion=486539266
EnableAutoUpdates=false
ConfirmOnExit=false
Language=es-ES

[BasicWindow]
WarnBeforeStartingStream=false
WarnBeforeStoppingStream=false
INI

settings=$config/plugin_config/relaycast/salidas.json
cat >"$settings" <<'JSON'
{
  "version": 1,
  "colecciones": {
    "Sin título": {"entradas": [
      {"id": "7d0c5a8e-0b1f-4f3e-9a51-2f1f3c2d4e01", "fuente": "Escena", "nombre": "Principal",
       "destinos": [
         {"id": "5c7e1f00-3b9a-4c55-8d61-7a0f2b4c9e11", "url": "rtmp://127.0.0.1:1935/live",
          "clave": "clave-plana-uno"},
         {"id": "5c7e1f00-3b9a-4c55-8d61-7a0f2b4c9e12",
          "url": "srt://127.0.0.1:9000?streamid=publicar", "contrasena": "frase-plana-dos"}]}]},
    "Untitled": {"entradas": [
      {"id": "7d0c5a8e-0b1f-4f3e-9a51-2f1f3c2d4e02", "fuente": "Scene",
       "destinos": [
         {"id": "5c7e1f00-3b9a-4c55-8d61-7a0f2b4c9e13", "url": "rtmp://127.0.0.1:1935/live",
          "clave": "clave-plana-tres"}]}]}
  }
}
JSON
chmod 0644 "$settings"
# An address with a query part is a secret too (it may carry a stream id).
plain_secrets=(clave-plana-uno frase-plana-dos clave-plana-tres streamid=publicar)

# OBS fetches remote lists at start: every HTTP(S) request goes to a closed loopback port.
dead_proxy=http://127.0.0.1:9
env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME \
    HOME="$home" LANG=es_ES.UTF-8 \
    http_proxy=$dead_proxy https_proxy=$dead_proxy HTTPS_PROXY=$dead_proxy \
    all_proxy=$dead_proxy ALL_PROXY=$dead_proxy \
    no_proxy=127.0.0.1,localhost,::1 NO_PROXY=127.0.0.1,localhost,::1 \
    obs --multi --disable-missing-files-check >"$work/obs.out" 2>&1 &
obs_pid=$!

logs=$config/logs
newest_log() { ls -t "$logs"/*.txt 2>/dev/null | head -n 1; }

# Up to 60 s for the program to finish loading (the log says so once the main window is up).
loaded=false
for _ in $(seq 1 120); do
    kill -0 "$obs_pid" 2>/dev/null || break
    log=$(newest_log)
    if [[ -n $log ]] && grep -q "Switched to scene" "$log" 2>/dev/null; then
        loaded=true
        break
    fi
    sleep 0.5
done
$loaded || fail "OBS did not finish loading within 60 s"
# Let the late start-up (post-load, finished-loading event) settle.
sleep 3

# The first start with the plug-in shows its dock (OBS alone would leave it hidden).
dock_window=$(xwininfo -root -tree 2>/dev/null | grep -F '"Relaycast"' | head -n 1 | awk '{print $1}')
if [[ -n $dock_window ]] && xwininfo -id "$dock_window" | grep -q "Map State: IsViewable"; then
    pass "dock shown on the first start"
else
    fail "dock not shown on the first start"
fi

status=
if kill -0 "$obs_pid" 2>/dev/null; then
    kill -INT "$obs_pid"
    for _ in $(seq 1 60); do
        kill -0 "$obs_pid" 2>/dev/null || break
        sleep 0.5
    done
    if kill -0 "$obs_pid" 2>/dev/null; then
        fail "OBS still running 30 s after SIGINT"
        kill -KILL "$obs_pid"
    fi
fi
wait "$obs_pid"
status=$?
obs_pid=

log=$(newest_log)
if [[ -z $log ]]; then
    fail "OBS wrote no log"
    log=/dev/null
fi

if [[ $status -eq 0 ]]; then
    pass "OBS exited with status 0"
else
    fail "OBS exited with status $status"
fi

if compgen -G "$config/crashes/*" >/dev/null; then
    fail "OBS wrote a crash report: $(ls "$config/crashes")"
else
    pass "no crash report"
fi

if grep -qF "[relaycast] Relaycast loaded (version 1.0.3)" "$log"; then
    pass "load line in the host log"
else
    fail "no load line in the host log"
fi
if grep -qF "[relaycast] Relaycast unloaded" "$log"; then
    pass "unload line in the host log"
else
    fail "no unload line in the host log"
fi

# The load rewrites every collection's secrets in protected form, at owner-only mode.
mode=$(stat -c %a "$settings" 2>/dev/null)
[[ $mode == 600 ]] && pass "settings file mode 0600" || fail "settings file mode is ${mode:-missing}"
for secret in "${plain_secrets[@]}"; do
    if grep -qF -- "$secret" "$settings"; then
        fail "plain secret $secret still in the settings file"
    fi
done
protected=$(grep -c '"dpapi:' "$settings")
if [[ $protected -ge 4 ]]; then
    pass "secrets stored protected ($protected)"
else
    fail "expected 4 protected secrets in the settings file, found $protected"
fi

# The dock's object name appears as UTF-16 in the saved window layout.
dock_state=$(sed -n 's/^DockState=//p' "$config/global.ini" | head -n 1)
utf16_hex() {
    local text=$1 order=$2 hex= i c
    for ((i = 0; i < ${#text}; i++)); do
        c=$(printf '%02x' "'${text:i:1}")
        [[ $order == be ]] && hex+=" 00 $c" || hex+=" $c 00"
    done
    echo "$hex"
}
if [[ -z $dock_state ]]; then
    fail "OBS saved no dock layout"
else
    layout_hex=$(printf '%s' "$dock_state" | base64 -d 2>/dev/null | od -An -tx1 -v | tr -s ' \n' ' ')
    if [[ $layout_hex == *"$(utf16_hex relaycast-panel be)"* ||
        $layout_hex == *"$(utf16_hex relaycast-panel le)"* ]]; then
        pass "dock relaycast-panel in the saved layout"
    else
        fail "dock relaycast-panel not in the saved layout"
    fi
fi

if [[ $failures -ne 0 ]]; then
    echo "--- relaycast lines of the host log ($log)"
    grep -F "[relaycast]" "$log"
    echo "--- last lines of the host log"
    tail -n 15 "$log"
    echo "--- OBS output"
    tail -n 15 "$work/obs.out"
    exit 1
fi
echo "all checks passed"
