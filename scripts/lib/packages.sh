# Debian packages the build and the tests need; sourced by scripts/run and scripts/test.
RELAYCAST_BUILD_PACKAGES=(
    cmake g++ make pkg-config
    libobs-dev obs-studio qtbase5-dev libqt5svg5-dev
    libsodium-dev libcurl4-openssl-dev
)
RELAYCAST_TEST_PACKAGES=(
    libgtest-dev libbenchmark-dev
    xvfb xauth x11-utils imagemagick xdotool
    nginx-light libnginx-mod-rtmp srt-tools rist-tools ffmpeg openssl
    python3-websocket iproute2
)

# Installs the given packages with apt-get when any of them is missing.
relaycast_ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
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
