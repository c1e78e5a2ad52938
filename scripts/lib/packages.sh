# Debian packages the build and the tests need; sourced by scripts/run and scripts/test.
RELAYCAST_BUILD_PACKAGES=(
    cmake g++ make pkg-config
    libobs-dev obs-studio qtbase5-dev libqt5svg5-dev
    libsodium-dev libcurl4-openssl-dev
)
RELAYCAST_TEST_PACKAGES=(
    libgtest-dev libbenchmark-dev
    xvfb xauth x11-utils imagemagick xdotool
    nginx-light libnginx-mod-rtmp srt-tools rist-tools ffmpeg openssl stunnel4
    python3-websocket iproute2 nodejs npm
    fonts-droid-fallback # Japanese glyphs, so the Japanese fit test measures real text
    bindfs fuse3         # a recording folder that stops answering (a FUSE mount paused)
)

# Installs the given packages with apt-get when any of them is missing. A name that an installed
# package provides counts as there: a Node.js from elsewhere brings its own npm and conflicts
# with Debian's.
relaycast_ensure_packages() {
    local missing=()
    local pkg provided
    provided=" $(dpkg-query -W -f='${db:Status-Abbrev} ${Provides}\n' 2>/dev/null |
        awk '$1 == "ii" {$1 = ""; print}' | sed 's/([^)]*)//g; s/,/ /g' | tr -s ' \n' ' ') "
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            [[ $provided == *" $pkg "* ]] || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# CI's builds and the lanes' leave out debug information: it is about a quarter of the compile
# time, and a failure there is looked into in a developer's own build.
RELAYCAST_WITHOUT_DEBUG_INFO=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")

# Configures and builds; extra arguments go to the configure step.
relaycast_build() {
    local build_dir=$1
    shift
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$build_dir" -j2
}

# Installs the obs-websocket client library the end-to-end tests use into build/node-client/
# of the source tree, from the committed lock file, when that lock file changed since the last
# install. The lanes see the source tree and run their tests offline, so this runs outside them.
relaycast_node_client() {
    local repo
    repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    local from=$repo/tests/plugin/node-client into=$repo/build/node-client
    local stamp=$into/.installed wanted
    wanted=$(cat "$from/package.json" "$from/package-lock.json" | sha256sum | cut -d' ' -f1)
    if [[ -d $into/node_modules && -f $stamp && $(<"$stamp") == "$wanted" ]]; then
        return 0
    fi
    echo "Installing the tests' obs-websocket client library into ${into#"$repo"/}"
    rm -rf "$into"
    mkdir -p "$into"
    cp "$from/package.json" "$from/package-lock.json" "$into/"
    (cd "$into" && npm ci --omit=dev --no-audit --no-fund --loglevel=error) || return 1
    echo "$wanted" >"$stamp"
}
