#!/usr/bin/env bash
# The real OBS program with the plug-in streaming to a local RTMP server is killed with SIGKILL,
# as a crash or a power cut would end it. The input records with its streams: the MKV file the
# kill cut short still plays. On the next start the settings file is intact and loads (the
# input is back on the dock and streams again), the plug-in starts and quits cleanly, the new
# recording leaves the first one alone, and no temporary file is left beside the settings or
# the key.
#
# The stream is started the way a user does: a click on the input's green start button, found
# on the screen by its colour.
#
# Usage: plugin_obs_crash_test.sh /path/to/relaycast.so
set -uo pipefail

plugin=${!#}
[[ -f $plugin ]] || { echo "FAIL: no plug-in file at $plugin"; exit 1; }
for program in obs nginx xdotool import convert; do
    command -v $program >/dev/null || { echo "FAIL: $program is not installed"; exit 1; }
done

# Without a display, run again under a virtual one of our own.
if [[ -z ${DISPLAY:-} ]]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$0" "$@"
fi

source "$(dirname "$0")/../support/obs_program.sh"
source "$(dirname "$0")/../support/nginx_rtmp.sh"

work=$(mktemp -d)
stop_nginx() {
    if [[ -n $nginx_pid ]]; then
        kill -TERM "$nginx_pid" 2>/dev/null
        wait "$nginx_pid" 2>/dev/null
        nginx_pid=
    fi
}
# The host logs go where the key-leak scan of the test run reads them.
keep_logs() {
    [[ -n ${RELAYCAST_TEST_LOG_DIR:-} && -n ${obs_config:-} ]] || return 0
    mkdir -p "$RELAYCAST_TEST_LOG_DIR"
    local file
    for file in "$obs_config"/logs/*.txt "$work"/obs-*.out; do
        [[ -f $file ]] && cp "$file" "$RELAYCAST_TEST_LOG_DIR/obs-crash-$(basename "$file")"
    done
}
trap 'obs_stop_now; stop_nginx; keep_logs; rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# nginx-rtmp on 127.0.0.1; every accepted publish is logged by its on_publish check.
nginx_rtmp_start "$work/nginx" '$arg_name' || { echo "FAIL: nginx-rtmp did not start"; exit 1; }

key=clave-choque-7c1e94
publishes() { grep -cxF "$key" "$work/nginx/publishes.log" 2>/dev/null; }

obs_prepare_home "$work/home" es-ES
config=$obs_config
mkdir -p "$config/plugins/relaycast/bin/64bit" "$config/plugin_config/relaycast"
cp "$plugin" "$config/plugins/relaycast/bin/64bit/relaycast.so"
settings_folder=$config/plugin_config/relaycast
settings=$settings_folder/salidas.json
key_folder=$work/home/.local/share/relaycast
mkdir -p "$work/recordings"
# Whether the file plays: its video at the input's size and its audio, and how long it lasts.
check_recording() {
    local label=$1 file=$2
    [[ -n $file && -s $file ]] || { fail "$label: no recording written"; return; }
    local streams seconds
    streams=$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$file")
    seconds=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 \
        "$file" | tail -n 1 | cut -d, -f1)
    echo "figure: $label recording $(basename "$file"): $(stat -c %s "$file") bytes, last frame at ${seconds:-?} s"
    if grep -qx 'h264,640,360' <<<"$streams" && grep -qx 'aac' <<<"$streams" &&
        awk -v s="${seconds:-0}" 'BEGIN { exit !(s >= 1) }'; then
        pass "$label: the recording plays (H.264 640x360, AAC, ${seconds} s)"
    else
        fail "$label: the recording does not play: $streams / ${seconds:-no frames}"
    fi
}
# The same input in every name OBS may give its first collection.
entry() {
    cat <<JSON
{"entradas": [{"id": "6a1c0d3e-5b2f-4c1a-9e8d-7f6a5b4c3d2$1", "fuente": "Escena",
  "ancho": 640, "alto": 360, "videoKbps": 800,
  "grabacion": {"carpeta": "$work/recordings", "conEmisiones": true},
  "destinos": [{"id": "0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f$1",
                "url": "rtmp://127.0.0.1:$rtmp_port/live", "clave": "$key"}]}]}
JSON
}
cat >"$settings" <<JSON
{"version": 1, "colecciones": {"Sin Título": $(entry 1), "Sin título": $(entry 2),
                               "Untitled": $(entry 3)}}
JSON

# Clicks the top-most green start button (#2d8a3e: the dock's "▶ Emitir todo", else a
# destination's "▶ Emitir") on the screen. False when there is none.
click_start_button() {
    # A button under the pointer shows its hover colour: the pointer goes out of the way first.
    xdotool mousemove 0 0 sleep 0.3
    import -window root "$work/screen.png" 2>/dev/null || return 1
    local green=(convert "$work/screen.png" -alpha off -fill black +opaque '#2d8a3e')
    local w h x y
    IFS='x+' read -r w h x y <<<"$("${green[@]}" -format '%@' info: 2>/dev/null)"
    [[ -n $y && $w -ge 20 && $h -ge 10 ]] || return 1
    # Only the band of the first button: the whole box may span several buttons.
    IFS='x+' read -r w h x _ <<<"$("${green[@]}" -crop "10000x40+0+$y" -format '%@' info: 2>/dev/null)"
    [[ -n $x && $w -ge 20 && $h -ge 10 ]] || return 1
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) sleep 0.3 click 1
}

# Waits up to SECONDS for the server to have seen COUNT publishes of the key.
wait_publishes() {
    local count=$1 seconds=$2
    for _ in $(seq 1 $((seconds * 2))); do
        [[ $(publishes) -ge $count ]] && return 0
        sleep 0.5
    done
    return 1
}

# Starts OBS, waits for the late start-up, clicks the start button and waits for the publish.
start_streaming() {
    local label=$1 count=$2
    obs_start "$work/obs-$label.out" || { fail "$label start: OBS did not finish loading"; return 1; }
    sleep 3
    local clicked=false
    for _ in 1 2 3 4 5; do
        click_start_button && clicked=true && break
        sleep 1
    done
    $clicked || { fail "$label start: no start button on the dock"; return 1; }
    # A click the dock missed while it was still laying itself out is made again; once the
    # input streams its buttons are red, so a second click cannot stop it.
    wait_publishes "$count" 10 || click_start_button
    if wait_publishes "$count" 15; then
        pass "$label start: the input streams to the local server"
    else
        fail "$label start: nothing reached the server within 20 s"
        return 1
    fi
}

stray_files() {
    find "$settings_folder" "$key_folder" -mindepth 1 -maxdepth 1 \
        ! -name salidas.json ! -name secret.key -printf '%f\n' 2>/dev/null
}

# --- first start: stream, then SIGKILL while streaming --------------------------------------
start_streaming first 1
sleep $((2 + RANDOM % 4))
before=$(sha256sum <"$settings")
grep -q '"dpapi:' "$settings" && pass "key stored protected before the kill" ||
    fail "key not stored protected before the kill"
kill -KILL "$obs_pid"
wait "$obs_pid" 2>/dev/null
obs_pid=
sleep 1 # the file writer ends when its pipe closes
first_recording=$(ls "$work/recordings"/*.mkv 2>/dev/null | head -n 1)
first_sum=$(sha256sum <"$first_recording" 2>/dev/null)
check_recording "after the kill" "$first_recording"

after=$(sha256sum <"$settings")
[[ $before == "$after" ]] && pass "settings file unchanged by the kill" ||
    fail "settings file changed by the kill"
strays=$(stray_files)
[[ -z $strays ]] && pass "no temporary file left after the kill" ||
    fail "left after the kill: $strays"

# --- second start: everything is back -------------------------------------------------------
start_streaming second 2
log=$(obs_newest_log)
obs_quit || fail "second start: OBS still running 30 s after SIGINT"
[[ $obs_status -eq 0 ]] && pass "second start: OBS exited with status 0" ||
    fail "second start: OBS exited with status $obs_status"
grep -qF "[relaycast] Relaycast loaded" "$log" && grep -qF "[relaycast] Relaycast unloaded" "$log" &&
    pass "second start: plug-in loaded and unloaded" ||
    fail "second start: load or unload line missing"
# A settings file that did not load would be reported in the log and copied aside.
complaints=$(grep -F "[relaycast]" "$log" | grep -iE "settings|configuraci|error")
[[ -z $complaints ]] && pass "second start: no complaint in the host log" ||
    fail "second start: the plug-in complained: $complaints"
[[ ! -e $settings.danado ]] && pass "no damaged copy set aside" || fail "the settings were set aside as damaged"
grep -qF "$key" "$settings" && fail "the key is in the settings file in the clear"
strays=$(stray_files)
[[ -z $strays ]] && pass "no temporary file after the second run" || fail "left: $strays"
[[ $(ls "$work/recordings"/*.mkv | wc -l) -eq 2 ]] && [[ $(sha256sum <"$first_recording") == "$first_sum" ]] &&
    pass "the second run recorded to a new file and left the first alone" ||
    fail "recordings after the second run: $(ls "$work/recordings")"

if [[ $failures -ne 0 ]]; then
    echo "--- relaycast lines of the host logs"
    grep -hF "[relaycast]" "$config/logs/"*.txt
    echo "--- nginx error log (tail)"
    tail -n 5 "$work/nginx/error.log"
    exit 1
fi
echo "all checks passed"
