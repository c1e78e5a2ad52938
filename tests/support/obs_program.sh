# Shell helpers for tests and scripts that drive the real OBS program: a fresh profile, start,
# quit like a user, and the host log. Sourced, not run.

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
