#!/usr/bin/env bash
# Screenshots of the plug-in in a suite's real OBS, on a 1920x1080 virtual screen of a system
# without any emoji font (run by scripts/test-lane screenshots, inside a chroot where the
# suite's obs and the plug-in's package are installed): the main window with the dock as the
# first start places it, the editor as "Add input" opens it, and the dock streaming to a local
# RTMP server.
#
# Usage: obs-screenshots.sh OUT_DIR
set -euo pipefail

out=$1
here=$(cd "$(dirname "$0")" && pwd)
if [[ -z ${DISPLAY:-} ]]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" bash "$0" "$@"
fi
source "$here/../../tests/support/obs_program.sh"

work=$(mktemp -d)
nginx_pid=
cleanup() {
    obs_stop_now
    [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

line=$(obs --version | grep -oE '[0-9]+' | head -n 1)
shot() { import -window root "$work/screen.png"; }
log() { echo "[screenshots] $*"; }

# A local RTMP server for the live picture.
mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
master_process off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events {}
rtmp { server { listen 127.0.0.1:1935; application live { live on; } } }
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!

obs_prepare_home "$work/home" en-US
settings=$obs_config/plugin_config/relaycast/salidas.json
mkdir -p "$(dirname "$settings")"
cat >"$settings" <<'JSON'
{
  "version": 1,
  "colecciones": {
    "Untitled": {"entradas": [
      {"id": "7d0c5a8e-0b1f-4f3e-9a51-2f1f3c2d4e01", "fuente": "Scene", "nombre": "Main show",
       "videoKbps": 2500,
       "destinos": [
         {"id": "5c7e1f00-3b9a-4c55-8d61-7a0f2b4c9e11", "url": "rtmp://127.0.0.1:1935/live",
          "clave": "main"},
         {"id": "5c7e1f00-3b9a-4c55-8d61-7a0f2b4c9e12",
          "url": "srt://127.0.0.1:9000?streamid=publish", "contrasena": "passphrase-01"}]},
      {"id": "7d0c5a8e-0b1f-4f3e-9a51-2f1f3c2d4e02", "fuente": "Scene", "seguirObs": true,
       "destinos": [
         {"id": "5c7e1f00-3b9a-4c55-8d61-7a0f2b4c9e13", "url": "rtmp://127.0.0.1:1935/live",
          "clave": "second"}]}]}
  }
}
JSON

obs_start "$work/obs.out" || { log "OBS did not start"; tail -n 5 "$work/obs.out"; exit 1; }
sleep 4
shot
cp "$work/screen.png" "$out/obs$line-main-window.png"

# The docked dock has a window of its own inside OBS's: its geometry is the picture to cut.
dock_geometry() {
    local id
    id=$(xwininfo -root -tree | awk '/"Relaycast":/ {print $1; exit}')
    [[ -n $id ]] && xwininfo -id "$id" | awk '
        /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        /Width:/ {w = $NF} /Height:/ {h = $NF} END {printf "%dx%d+%d+%d", w, h, x, y}'
}
geometry=$(dock_geometry)
[[ -n $geometry ]] || { log "no dock window"; exit 1; }
convert "$work/screen.png" -crop "$geometry" +repage "$out/obs$line-dock.png"

# The first idle start button, found by its colour: where to aim on this theme.
green_box() {
    convert "$work/screen.png" -fill black +opaque '#2d8a3e' -fill white -opaque '#2d8a3e' \
        -trim -format '%w %h %X %Y' info: 2>/dev/null
}
read -r gw _ gx gy <<<"$(green_box)"
[[ -n ${gx:-} && $gw -lt 400 ]] || { log "no start button on screen"; exit 1; }
button_x=$((gx + gw / 2))
button_y=$((gy + 18))

# "Add input" sits above the cards in the buttons' column: click upwards until it opens,
# closing whatever else a click opened.
window_named() { xwininfo -root -tree | awk -v n="\"$1\":" '$0 ~ n {print $1; exit}'; }
dialog=
y=$((button_y - 40))
while [[ -z $dialog ]] && ((y > 20)); do
    xdotool mousemove "$button_x" "$y" click 1
    y=$((y - 8))
    sleep 0.5
    dialog=$(window_named "Add input")
    for other in "Edit input" "Delete input"; do
        id=$(window_named "$other")
        if [[ -n $id ]]; then
            xdotool windowfocus "$id" key Escape
            sleep 0.3
        fi
    done
done
[[ -n $dialog ]] || { log "could not open the editor"; exit 1; }
sleep 1
import -window "$dialog" "$out/obs$line-add-input.png"
xwininfo -id "$dialog" | grep -E 'Width|Height' | tr -s ' ' | sed 's/^/[screenshots] dialog /'
xdotool windowfocus "$dialog" key Escape
sleep 0.5

# Live: start the first destination and wait until its button turns to "Stop" (red).
xdotool mousemove "$button_x" "$button_y" click 1
for _ in $(seq 1 40); do
    sleep 0.5
    shot
    red=$(convert "$work/screen.png" -fill black +opaque '#b3372f' -fill white -opaque '#b3372f' \
        -trim -format '%w' info: 2>/dev/null || true)
    [[ ${red:-0} -gt 1 && ${red:-0} -lt 400 ]] && break
done
xdotool mousemove 10 10
sleep 3
shot
convert "$work/screen.png" -crop "$(dock_geometry)" +repage "$out/obs$line-dock-live.png"
obs_quit || true
log "saved: $(cd "$out" && ls obs"$line"-*.png | tr '\n' ' ')"
