#!/usr/bin/env bash
# Runs the real OBS program with the plug-in, quits it the way a user does (SIGINT) and checks
# what the plug-in left behind: its load and unload lines in the host log, the settings file
# rewritten with protected keys at owner-only mode, a clean exit without a crash report, and its
# dock: docked at the side and visible on the first start, and on later starts where the user
# left it (floating, then hidden). With the test-only module (its path in RELAYCAST_OBS_DRIVER),
# a last start in German shows the dock in German.
#
# Usage: plugin_obs_e2e_test.sh VERSION /path/to/relaycast.so   (installed as a user plug-in)
#        plugin_obs_e2e_test.sh VERSION --installed             (the system's installed plug-in)
set -uo pipefail

version=${1:?usage: $0 VERSION /path/to/relaycast.so|--installed}
plugin=${2:?usage: $0 VERSION /path/to/relaycast.so|--installed}
if [[ $plugin != --installed && ! -f $plugin ]]; then
    echo "FAIL: no plug-in file at $plugin"
    exit 1
fi
command -v obs >/dev/null || { echo "FAIL: the obs program is not installed"; exit 1; }

# Without a display, run again under a virtual one of our own.
if [[ -z ${DISPLAY:-} ]]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$0" "$@"
fi

source "$(dirname "$0")/../support/obs_program.sh"

work=$(mktemp -d)
cleanup() {
    obs_stop_now
    # The host logs go where the key-leak scan of the test run reads them.
    if [[ -n ${RELAYCAST_TEST_LOG_DIR:-} && -n ${config:-} ]]; then
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

obs_prepare_home "$work/home" es-ES
config=$obs_config
if [[ $plugin != --installed ]]; then
    mkdir -p "$config/plugins/relaycast/bin/64bit"
    cp "$plugin" "$config/plugins/relaycast/bin/64bit/relaycast.so"
fi

settings=$config/plugin_config/relaycast/salidas.json
mkdir -p "$(dirname "$settings")"
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

# One start of OBS: up to 60 s to load, a moment for the late start-up, then SIGINT.
# Sets $log (the host log of that start) and $status (its exit status).
run_obs() {
    local label=$1
    if ! obs_start "$work/obs-$label.out"; then
        fail "$label start: OBS did not finish loading within 60 s"
    fi
    # The post-load and finished-loading work of the plug-ins.
    sleep 3
    "check_$label"
    if ! obs_quit; then
        fail "$label start: OBS still running 30 s after SIGINT"
    fi
    status=$obs_status
    log=$(obs_newest_log)
    if [[ -z $log ]]; then
        fail "$label start: OBS wrote no log"
        log=/dev/null
    fi
    [[ $status -eq 0 ]] && pass "$label start: OBS exited with status 0" ||
        fail "$label start: OBS exited with status $status"
    if compgen -G "$config/crashes/*" >/dev/null; then
        fail "$label start: OBS wrote a crash report: $(ls "$config/crashes")"
    fi
    grep -qF "[relaycast] Relaycast loaded (version $version)" "$log" ||
        fail "$label start: no load line in the host log"
    grep -qF "[relaycast] Relaycast unloaded" "$log" ||
        fail "$label start: no unload line in the host log"
}

# --- first start: the dock is docked at the side and shown -----------------------------------
check_first() {
    if obs_dock_window_viewable; then
        fail "first start: the dock floats over the main window"
    else
        pass "first start: no floating dock window"
    fi
}
run_obs first

state=$(obs_dock_state relaycast-panel)
read -r visible floating <<<"$state"
if [[ -z $state ]]; then
    fail "first start: dock relaycast-panel not in the saved layout"
elif [[ $visible == 1 && $floating == 0 ]]; then
    pass "first start: dock saved docked and visible"
    read -r area width _ <<<"$(obs_dock_area relaycast-panel)"
    if [[ $area == right && $width -ge 300 ]]; then
        pass "first start: docked in the right area, $width px wide"
    else
        fail "first start: docked in area '${area:-?}', ${width:-?} px wide"
    fi
else
    fail "first start: dock saved visible=$visible floating=$floating"
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

# --- later starts keep the user's layout: floating, then hidden ------------------------------
if [[ -n $state ]]; then
    first_layout=$(obs_saved_layout)
    obs_set_dock_state relaycast-panel 1 1
    check_floating() {
        if obs_dock_window_viewable; then
            pass "floating start: the dock floats where the user left it"
        else
            fail "floating start: no floating dock window"
        fi
    }
    run_obs floating
    read -r visible floating _ <<<"$(obs_dock_state relaycast-panel)"
    [[ $visible == 1 && $floating == 1 ]] && pass "floating start: dock saved floating" ||
        fail "floating start: dock saved visible=$visible floating=$floating"

    obs_restore_layout "$first_layout"
    obs_set_dock_state relaycast-panel 0 0
    check_hidden() {
        if obs_dock_window_viewable; then
            fail "hidden start: the dock was shown"
        fi
    }
    run_obs hidden
    read -r visible floating _ <<<"$(obs_dock_state relaycast-panel)"
    [[ $visible == 0 && $floating == 0 ]] && pass "hidden start: dock stays hidden" ||
        fail "hidden start: dock saved visible=$visible floating=$floating"
fi

# --- OBS in German shows the dock in German ------------------------------------------------------
# The test-only module writes the dock's texts to the host log; a plug-in in the user's folder
# reads its locale files from plugins/relaycast/data beside its binary.
if [[ $plugin != --installed && -n ${RELAYCAST_OBS_DRIVER:-} && -n ${first_layout:-} ]]; then
    obs_restore_layout "$first_layout"
    mkdir -p "$config/plugins/relaycast/data" "$config/plugins/relaycast-driver/bin/64bit"
    cp -r "$(dirname "$0")/../../data/locale" "$config/plugins/relaycast/data/"
    cp "$RELAYCAST_OBS_DRIVER" "$config/plugins/relaycast-driver/bin/64bit/relaycast-driver.so"
    sed -i 's/^Language=.*/Language=de-DE/' "$config/global.ini" "$config/user.ini"
    check_german() { :; }
    run_obs german
    if grep -qF "[relaycast-driver] dock: Eingang hinzufügen" "$log"; then
        pass "German start: the dock speaks German"
    else
        fail "German start: no „Eingang hinzufügen“ on the dock: $(grep -F 'dock:' "$log" | head -n 5)"
    fi
fi

if [[ $failures -ne 0 ]]; then
    echo "--- relaycast lines of the host log ($log)"
    grep -F "[relaycast]" "$log"
    echo "--- last lines of the host log"
    tail -n 15 "$log"
    echo "--- OBS output"
    tail -n 15 "$work"/obs-*.out
    exit 1
fi
echo "all checks passed"
