# Shell helpers for tests and scripts that drive the real OBS program: a fresh profile, start,
# quit like a user, the host log, and the dock layout OBS saves at exit. Sourced, not run.
#
# The saved layout ("DockState" in global.ini, or user.ini from OBS 31 on) is base64 of Qt's
# QMainWindow::saveState(). In it every dock is written as its object name (a QString: byte
# length, then UTF-16 big-endian), a flags byte (1 visible, 2 floating) and four integers: the
# floating window's x, y, width and height, or the docked item's position, size and minimum
# width and height.

obs_pid=
obs_status=

# A fresh OBS profile under HOME for UI language LANGUAGE: no first-run wizard, no update check,
# no prompts. Sets obs_home and obs_config.
obs_prepare_home() {
    obs_home=$1
    local language=${2:-en-US}
    obs_config=$obs_home/.config/obs-studio
    mkdir -p "$obs_config"
    local version packed
    version=$(obs --version 2>/dev/null | grep -oE '[0-9]+\.[0-9]+\.[0-9]+' | head -n 1)
    IFS=. read -r major minor patch <<<"${version:-29.0.2}"
    packed=$(((major << 24) | (minor << 16) | patch))
    # OBS 31 moved these settings from global.ini to user.ini; each line reads its own.
    local file
    for file in global.ini user.ini; do
        cat >"$obs_config/$file" <<INI
[General]
FirstRun=true
LastVersion=$packed
EnableAutoUpdates=false
ConfirmOnExit=false
Language=$language

[BasicWindow]
WarnBeforeStartingStream=false
WarnBeforeStoppingStream=false
INI
    done
}

obs_newest_log() { ls -t "$obs_config/logs/"*.txt 2>/dev/null | head -n 1; }

# Starts OBS in the prepared profile, its output to OUTFILE, and waits up to 60 s until its main
# window is up. OBS reaches for remote lists at start: every HTTP(S) request goes to a closed
# loopback port.
obs_start() {
    local out=$1 dead_proxy=http://127.0.0.1:9
    local before
    before=$(obs_newest_log)
    env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME \
        HOME="$obs_home" LANG=C.UTF-8 \
        http_proxy=$dead_proxy https_proxy=$dead_proxy HTTPS_PROXY=$dead_proxy \
        all_proxy=$dead_proxy ALL_PROXY=$dead_proxy \
        no_proxy=127.0.0.1,localhost,::1 NO_PROXY=127.0.0.1,localhost,::1 \
        obs --multi --disable-missing-files-check >"$out" 2>&1 &
    obs_pid=$!
    local log
    for _ in $(seq 1 120); do
        kill -0 "$obs_pid" 2>/dev/null || return 1
        log=$(obs_newest_log)
        if [[ -n $log && $log != "$before" ]] && grep -q "Switched to scene" "$log" 2>/dev/null; then
            return 0
        fi
        sleep 0.5
    done
    return 1
}

# Quits OBS as a user does (SIGINT runs its normal shut-down) and sets obs_status. Fails when it
# was still running 30 s later (it is then killed).
obs_quit() {
    [[ -n $obs_pid ]] || return 0
    local quit=0
    if kill -0 "$obs_pid" 2>/dev/null; then
        kill -INT "$obs_pid"
        for _ in $(seq 1 60); do
            kill -0 "$obs_pid" 2>/dev/null || break
            sleep 0.5
        done
        if kill -0 "$obs_pid" 2>/dev/null; then
            kill -KILL "$obs_pid"
            quit=1
        fi
    fi
    wait "$obs_pid"
    obs_status=$?
    obs_pid=
    return $quit
}

obs_stop_now() {
    if [[ -n $obs_pid ]] && kill -0 "$obs_pid" 2>/dev/null; then
        kill -KILL "$obs_pid" 2>/dev/null
        wait "$obs_pid" 2>/dev/null
    fi
    obs_pid=
}

# True when a top-level window titled "Relaycast" (the dock floating on its own) is on screen.
# A docked dock may have a window of its own too, but inside the main window.
obs_dock_window_viewable() {
    local id
    for id in $(xwininfo -root -children 2>/dev/null | awk '/"Relaycast":/ {print $1}'); do
        xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable" && return 0
    done
    return 1
}

# The configuration file that holds the saved layout.
obs_layout_file() {
    local file
    for file in user.ini global.ini; do
        if grep -q '^DockState=' "$obs_config/$file" 2>/dev/null; then
            echo "$obs_config/$file"
            return
        fi
    done
}

# The saved layout as hexadecimal bytes separated by spaces.
_obs_layout_hex() {
    local file
    file=$(obs_layout_file)
    [[ -n $file ]] || return 1
    sed -n 's/^DockState=//p' "$file" | head -n 1 | base64 -d 2>/dev/null | od -An -tx1 -v |
        tr -s ' \n' ' ' | sed 's/^ //; s/ $//'
}

# Byte offset of the flags byte that follows dock NAME in the hexadecimal layout, or nothing.
_obs_flags_offset() {
    local hex=$1 name=$2 pattern i
    pattern=$(printf '00 00 00 %02x' $((${#name} * 2)))
    for ((i = 0; i < ${#name}; i++)); do
        pattern+=$(printf ' 00 %02x' "'${name:i:1}")
    done
    local before=${hex%%"$pattern"*}
    [[ $before != "$hex" ]] || return 1
    local bytes_before=$(((${#before} + 1) / 3))
    echo $((bytes_before + ${#name} * 2 + 4))
}

# Reads the saved layout into _obs_bytes (one hexadecimal byte each) and the offset of dock
# NAME's flags byte into _obs_offset; fails when the layout does not hold the dock.
_obs_read_dock() {
    local hex
    hex=$(_obs_layout_hex) || return 1
    _obs_offset=$(_obs_flags_offset "$hex" "$1") || return 1
    read -ra _obs_bytes <<<"$hex"
}

# The big-endian 32-bit integer at byte AT of _obs_bytes.
_obs_int32() {
    local at=$1
    echo $((16#${_obs_bytes[at]}${_obs_bytes[at + 1]}${_obs_bytes[at + 2]}${_obs_bytes[at + 3]}))
}

# "VISIBLE FLOATING" of dock NAME in the saved layout (1 or 0 each), or nothing when the layout
# does not hold it.
obs_dock_state() {
    _obs_read_dock "$1" || return 0
    local flags=$((16#${_obs_bytes[_obs_offset]}))
    echo "$((flags & 1)) $(((flags & 2) >> 1))"
}

# "AREA WIDTH HEIGHT" of the dock area that dock NAME opens (left, right, top or bottom, and
# the area's size in pixels), or nothing when the dock is not the first of a dock area. In the
# layout an area is its number, its size, then its items: a sequence marker (0xfc), an
# orientation byte, the item count and, for a dock, a widget marker (0xfb) and the dock's name.
obs_dock_area() {
    local name=$1
    _obs_read_dock "$name" || return 0
    local at=$((_obs_offset - ${#name} * 2 - 4 - 19))
    ((at >= 0)) || return 0
    [[ ${_obs_bytes[at + 12]} == fc && ${_obs_bytes[at + 18]} == fb ]] || return 0
    local areas=(left right top bottom) area
    area=$(_obs_int32 "$at")
    ((area < 4)) || return 0
    echo "${areas[area]} $(_obs_int32 $((at + 4))) $(_obs_int32 $((at + 8)))"
}

# The saved layout as it is now (base64), to put back later with obs_restore_layout.
obs_saved_layout() { sed -n 's/^DockState=//p' "$(obs_layout_file)" | head -n 1; }
obs_restore_layout() { sed -i "s|^DockState=.*|DockState=$1|" "$(obs_layout_file)"; }

# Rewrites dock NAME in the saved layout as a user would leave it: VISIBLE 1/0, FLOATING 1/0.
# A floating dock gets a window of 360x520 at 60,60; a docked one keeps its saved place.
obs_set_dock_state() {
    local name=$1 visible=$2 floating=$3
    _obs_read_dock "$name" || return 1
    local offset=$_obs_offset bytes=("${_obs_bytes[@]}")
    bytes[offset]=$(printf '%02x' $((visible | (floating << 1))))
    if [[ $floating == 1 ]]; then
        local values=(60 60 360 520) k j
        for ((k = 0; k < 4; k++)); do
            for ((j = 0; j < 4; j++)); do
                bytes[offset + 1 + k * 4 + j]=$(printf '%02x' $(((values[k] >> (24 - 8 * j)) & 255)))
            done
        done
    fi
    local escaped encoded
    escaped=$(printf '\\x%s' "${bytes[@]}")
    encoded=$(printf '%b' "$escaped" | base64 -w0)
    obs_restore_layout "$encoded"
}
