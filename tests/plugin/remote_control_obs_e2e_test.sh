#!/usr/bin/env bash
# Remote control and hotkeys in the real OBS program: OBS with the built plug-in and its own
# obs-websocket, an nginx-rtmp server, and a websocket client (remote_control_client.py) that
# sends every request of the vendor "relaycast", presses the global hotkeys by name, and checks
# the streams on the server and the events it receives. Then OBS quits as a user quits it
# (SIGINT) and the global hotkey binding the profile held is still there.
#
# With the test-only module relaycast-driver (its path in RELAYCAST_OBS_DRIVER) the client also
# renames, duplicates, creates and removes scene collections and renames and duplicates the
# profile from OBS's menus, and checks that the entries, their hotkey bindings and the dock
# follow. The module logs OBS's front-end events, so the host log shows each line's order.
#
# OBS's own stream then runs to the same server while outputs of the plug-in are still stuck
# connecting, one of them to a name that a hosts file of this test's mount namespace gives an
# address that drops connections on that server's port. Quitting ends within one bound from the
# exit event, closes the stuck connections and nothing of OBS's own stream.
#
# Then a second client, remote_manage_client.mjs on the obs-websocket client library
# obs-websocket-js (installed into build/node-client by scripts/test), creates, changes, streams
# and deletes an input through the same OBS and checks the server, the events and the settings
# file; the keys it gives must appear in no answer, event or host log.
#
# obs-websocket listens on every interface: everything runs in a network namespace of its own
# with only loopback, and in a PID namespace, so every process started here ends with it, also
# on failure.
#
# Usage: remote_control_obs_e2e_test.sh [VERSION] /path/to/relaycast.so
set -uo pipefail

(($# > 0)) || { echo "usage: $0 [VERSION] /path/to/relaycast.so"; exit 2; }
plugin=${!#}
[[ -f $plugin ]] || { echo "FAIL: no plug-in file at $plugin"; exit 1; }
command -v obs >/dev/null || { echo "FAIL: the obs program is not installed"; exit 1; }
client=$(dirname "$(readlink -f "$0")")/remote_control_client.py
node_client=$(dirname "$(readlink -f "$0")")/remote_manage_client.mjs
node_modules=${RELAYCAST_NODE_MODULES:-$(dirname "$node_client")/../../build/node-client/node_modules}
# The stream keys and the passphrase the obs-websocket-js client gives.
plain_secrets=(node-key-first node-key-second node-key-added node-srt-passphrase)

if [[ -z ${RELAYCAST_E2E_NAMESPACE:-} ]]; then
    # Killed from outside (a test time-out), the namespace goes with everything in it.
    namespace=(unshare --net --pid --fork --mount-proc --kill-child=SIGKILL)
    [[ $(id -u) -eq 0 ]] || namespace=(unshare --user --map-root-user "${namespace[@]:1}")
    exec env RELAYCAST_E2E_NAMESPACE=1 "${namespace[@]}" bash "$0" "$@"
fi
ip link set lo up || { echo "FAIL: could not bring up loopback in the namespace"; exit 1; }
# A virtual screen of this namespace's own. Not exec'd: Xvfb tells its parent it is ready
# only when that parent is not the namespace's first process.
if [[ -z ${RELAYCAST_E2E_DISPLAY:-} ]]; then
    env RELAYCAST_E2E_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
        bash "$0" "$@"
    exit
fi

work=$(mktemp -d)
obs_pid=
nginx_pid=
nowhere_pid=
named_nowhere_pid=
cleanup() {
    for pid in $obs_pid $nginx_pid $nowhere_pid $named_nowhere_pid; do
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    # The host logs go where the key-leak scan of the test run reads them.
    if [[ -n ${RELAYCAST_TEST_LOG_DIR:-} ]]; then
        mkdir -p "$RELAYCAST_TEST_LOG_DIR"
        for file in "$work"/home/.config/obs-studio/logs/*.txt "$work"/obs.out; do
            [[ -f $file ]] && cp "$file" "$RELAYCAST_TEST_LOG_DIR/obs-remote-$(basename "$file")"
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

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
ws_port=$(free_port)
nowhere_port=$(free_port)

# A server at ADDRESS:PORT that never answers: its listening queue is kept full, so every
# further connection attempt waits for minutes, as towards a host that drops packets.
unanswered_server() {
    /usr/bin/python3 -c '
import socket, sys, time
server = socket.socket()
server.bind((sys.argv[1], int(sys.argv[2])))
server.listen(0)
fillers = [socket.socket() for _ in range(3)]
for filler in fillers:
    filler.setblocking(False)
    try:
        filler.connect((sys.argv[1], int(sys.argv[2])))
    except BlockingIOError:
        pass
time.sleep(3600)' "$@" &
}
unanswered_server 127.0.0.1 "$nowhere_port"
nowhere_pid=$!

# nginx-rtmp on loopback; every publish it lets in is logged with its stream key.
source "$(dirname "$(readlink -f "$0")")/../support/nginx_rtmp.sh"
nginx_rtmp_start "$work/nginx" '$msec $arg_name' || { echo "FAIL: nginx-rtmp did not start"; exit 1; }
# The same port at another loopback address, under a name: OBS's own stream to the server and
# a stuck output of the plug-in then have one port, and only the address tells them apart.
unanswered_server 127.0.0.2 "$rtmp_port"
named_nowhere_pid=$!
printf '127.0.0.1 localhost\n127.0.0.2 ingest.stuck.test\n' >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts || { echo "FAIL: no hosts file of the test's own"; exit 1; }

source "$(dirname "$(readlink -f "$0")")/../support/obs_program.sh"
obs_prepare_home "$work/home" en-US
home=$obs_home
config=$obs_config
mkdir -p "$config/plugins/relaycast/bin/64bit" "$config/plugin_config/relaycast" \
    "$config/plugin_config/obs-websocket" "$config/basic/profiles/Untitled"
cp "$plugin" "$config/plugins/relaycast/bin/64bit/relaycast.so"
driver=${RELAYCAST_OBS_DRIVER:-}
if [[ -n $driver && -f $driver ]]; then
    mkdir -p "$config/plugins/relaycast-driver/bin/64bit"
    cp "$driver" "$config/plugins/relaycast-driver/bin/64bit/relaycast-driver.so"
else
    fail "no test-only driver module (RELAYCAST_OBS_DRIVER): collections not followed"
    driver=
fi

# The profile and collection by name (global.ini up to OBS 30, user.ini from 31), and
# obs-websocket on without authentication (global.ini up to its 5.2, its own file after).
for file in global.ini user.ini; do
    cat >>"$config/$file" <<'INI'

[Basic]
Profile=Untitled
ProfileDir=Untitled
SceneCollection=Untitled
SceneCollectionFile=Untitled

[OBSWebSocket]
FirstLoad=false
ServerEnabled=true
AuthRequired=false
AlertsEnabled=false
INI
done
cat >"$config/plugin_config/obs-websocket/config.json" <<JSON
{"first_load": false, "server_enabled": true, "server_port": $ws_port,
 "alerts_enabled": false, "auth_required": false, "server_password": ""}
JSON
# A binding of the global "start every input" hotkey, where OBS keeps front-end hotkeys.
cat >"$config/basic/profiles/Untitled/basic.ini" <<'INI'
[General]
Name=Untitled

[Hotkeys]
relaycast_start_all={"bindings":[{"key":"OBS_KEY_F9"}]}
INI

# The collection with a binding of the first entry's "stream every destination" key, and a
# second scene to switch to. It is not created through obs-websocket: OBS 32 deadlocks when a
# request creates a source while its interface thread still connects its handlers after load
# (seen: the front end's "source_create" handler waits for that thread under the signal lock).
mkdir -p "$config/basic/scenes"
cat >"$config/basic/scenes/Untitled.json" <<'JSON'
{"name": "Untitled", "current_scene": "Scene", "current_program_scene": "Scene",
 "scene_order": [{"name": "Scene"}, {"name": "Other"}],
 "sources": [{"id": "scene", "versioned_id": "scene", "name": "Scene",
              "settings": {"items": [], "id_counter": 0}},
             {"id": "scene", "versioned_id": "scene", "name": "Other",
              "settings": {"items": [], "id_counter": 0}}],
 "modules": {"relaycast": {"hotkeys": {"0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a01":
   {"start": [{"key": "OBS_KEY_F5"}], "stop": []}}}}}
JSON

# The encoder profile "Low" is what the obs-websocket-js client creates its input from.
cat >"$config/plugin_config/relaycast/salidas.json" <<JSON
{
  "version": 1,
  "perfiles": [{"nombre": "Low", "codificador": "obs_x264", "videoKbps": 900, "audioKbps": 96}],
  "colecciones": {
    "Untitled": {"entradas": [
      {"id": "0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a01", "fuente": "Scene", "nombre": "Main",
       "videoKbps": 800, "ancho": 640, "alto": 360,
       "destinos": [
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b01", "url": "rtmp://127.0.0.1:$rtmp_port/live",
          "clave": "remote-key-1"},
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b02", "url": "rtmp://127.0.0.1:$rtmp_port/live",
          "clave": "remote-key-2"}]},
      {"id": "0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a02", "fuente": "Scene", "nombre": "Second",
       "videoKbps": 800, "ancho": 640, "alto": 360, "grabacion": {"carpeta": "$work"},
       "destinos": [
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b03", "url": "rtmp://127.0.0.1:$rtmp_port/live",
          "clave": "remote-key-3"}]},
      {"id": "0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a03", "fuente": "Scene", "nombre": "Nowhere",
       "videoKbps": 800, "ancho": 640, "alto": 360,
       "destinos": [
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b04", "url": "rtmp://127.0.0.1:$nowhere_port/live",
          "clave": "stuck-key-1"},
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b05", "url": "rtmp://127.0.0.1:$nowhere_port/live",
          "clave": "stuck-key-2"},
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b06", "url": "rtmp://127.0.0.1:$nowhere_port/live",
          "clave": "stuck-key-3"},
         {"id": "7a1c9e3f-2b4d-4e6a-8c0f-1d3e5f7a9b07", "url": "rtmp://ingest.stuck.test:$rtmp_port/live",
          "clave": "stuck-key-4"}]}]}
  }
}
JSON

env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME="$home" LANG=en_US.UTF-8 \
    obs --multi --disable-missing-files-check --websocket_port "$ws_port" --websocket_ipv4_only \
    >"$work/obs.out" 2>&1 &
obs_pid=$!

logs=$config/logs
newest_log() { ls -t "$logs"/*.txt 2>/dev/null | head -n 1; }

following=()
[[ -n $driver ]] && following=(--settings "$config/plugin_config/relaycast/salidas.json"
    --scenes "$config/basic/scenes")
/usr/bin/python3 "$client" --port "$ws_port" --publish-log "$work/nginx/publishes.log" \
    --entry 0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a01 --entry 0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a02 \
    --stuck-entry 0b7e5c2a-6f1d-4c8e-9a31-5d2f7e8c1a03 "${following[@]}" ||
    fail "the websocket client's checks"

if ! command -v node >/dev/null; then
    fail "node is not installed: the obs-websocket-js client did not run"
elif [[ ! -f $node_modules/obs-websocket-js/package.json ]]; then
    fail "obs-websocket-js is not installed in $node_modules (scripts/test installs it)"
else
    node_started=$SECONDS
    RELAYCAST_NODE_MODULES=$node_modules timeout -s KILL 180 node "$node_client" \
        --port "$ws_port" --rtmp "rtmp://127.0.0.1:$rtmp_port/live" \
        --stat "http://127.0.0.1:$http_port/stat" \
        --settings "$config/plugin_config/relaycast/salidas.json" \
        --keys "$(IFS=,; echo "${plain_secrets[*]}")" ||
        fail "the obs-websocket-js client's checks"
    echo "figure: the obs-websocket-js client's part took $((SECONDS - node_started)) s"
fi

# OBS's own stream to the server, live when OBS quits.
/usr/bin/python3 -c '
import sys, time
sys.path.insert(0, sys.argv[2])
from remote_control_client import Client
client = Client(int(sys.argv[1]))
client.request("SetStreamServiceSettings", {"streamServiceType": "rtmp_custom",
               "streamServiceSettings": {"server": sys.argv[3], "key": "obs-own-stream"}})
client.request("StartStream")
deadline = time.monotonic() + 20
while not client.request("GetStreamStatus")["responseData"]["outputActive"]:
    if time.monotonic() > deadline:
        sys.exit("OBS did not stream")
    time.sleep(0.2)
time.sleep(2)' "$ws_port" "$(dirname "$client")" "rtmp://127.0.0.1:$rtmp_port/live" &&
    pass "OBS streams itself to the server" || fail "OBS's own stream did not start"

# Outputs of the plug-in are still connecting to servers that never answer (OBS's own stream
# is connected): quitting stays bounded.
stuck=$(ss -Htnp state syn-sent | grep -c "pid=$obs_pid,")
quit_started=$(date +%s%N)
if obs_quit; then
    [[ $obs_status -eq 0 ]] && pass "OBS exited with status 0" ||
        fail "OBS exited with status $obs_status"
else
    fail "OBS still running 30 s after SIGINT"
fi
ended=$(date +%s%N) # within the half second obs_quit polls at
quit_ms=$(((ended - quit_started) / 1000000))
echo "figure: OBS quit in $quit_ms ms with $stuck outputs stuck connecting"
((quit_ms < 15000)) && pass "quitting took under 15 s" || fail "quitting took $quit_ms ms"

log=$(newest_log)
[[ -n $log ]] || { fail "OBS wrote no log"; log=/dev/null; }
# From OBS's exit event (the driver's line, stamped by the host's log) to the process's end.
exit_at=$(grep -m1 -F "[relaycast-driver] event EXIT" "$log" | cut -d' ' -f1)
if [[ -n $exit_at ]]; then
    exit_ms=$(((ended - $(date -d "$(date +%F) ${exit_at%:}" +%s%N)) / 1000000))
    echo "figure: from OBS's exit event to its end: $exit_ms ms"
    ((exit_ms < 12000)) && pass "one bound from the exit event" || fail "exit took $exit_ms ms"
fi
closed=$(grep -F "connection(s) of theirs closed under them" "$log")
echo "figure: ${closed:-no connection closed at exit}"
[[ $stuck -ge 4 && $closed == *": $stuck connection(s) of theirs"* ]] &&
    pass "exit closed the $stuck stuck connections, no other" ||
    fail "exit closed other than the $stuck stuck connections: $closed"
cut_under_obs=$(grep -F "Disconnected from" "$log" | grep -vF "relaycast-salida")
[[ -z $cut_under_obs ]] && pass "OBS's own stream was not cut under it" ||
    fail "OBS's own stream was cut at exit: $cut_under_obs"
if compgen -G "$config/crashes/*" >/dev/null; then
    fail "OBS wrote a crash report"
fi
grep -qF '[relaycast] remote control: obs-websocket vendor "relaycast" with 19 requests' "$log" &&
    pass "vendor registered" || fail "no vendor line in the host log"
grep -qF "[relaycast] Relaycast unloaded" "$log" && pass "unloaded" || fail "no unload line"
# Loaded from the profile at start and written back by the plug-in at exit; the renamed and
# the duplicated profile have it too.
profiles=(Untitled)
[[ -n $driver ]] && profiles=(RenamedProfile ProfileCopy)
for profile in "${profiles[@]}"; do
    if grep -q '^relaycast_start_all=.*OBS_KEY_F9' "$config/basic/profiles/$profile/basic.ini"; then
        pass "the global hotkey binding is in profile $profile"
    else
        fail "the global hotkey binding is not in profile $profile"
    fi
done
if [[ -n $driver ]]; then
    echo "--- OBS's front-end events as the driver saw them"
    grep -F "[relaycast-driver]" "$log" | grep -v "event FINISHED" | cut -c1-200
fi
for key in remote-key-1 remote-key-2 remote-key-3 stuck-key-1 stuck-key-2 stuck-key-3 \
    "${plain_secrets[@]}"; do
    grep -qF "$key" "$log" "$work/obs.out" && fail "secret $key in the host log"
done

if [[ $failures -ne 0 ]]; then
    echo "--- relaycast lines of the host log ($log)"
    grep -F "[relaycast]" "$log"
    echo "--- last lines of the host log"
    tail -n 20 "$log"
    echo "--- OBS output"
    tail -n 15 "$work/obs.out"
    exit 1
fi
echo "all checks passed"
