# shellcheck shell=bash
# Installs the Debian packages Mirelo needs to build and test, only those missing.
# Usage: mirelo_install_packages [extra package…]

MIRELO_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    # The demo server; the HTTP server's CMake files need the WebSockets ones, which the
    # package does not pull in.
    qt6-httpserver-dev qt6-websockets-dev
    dbus-daemon fonts-dejavu-core openssl
    # The tests that run the real application: a virtual X display and real input events.
    xvfb xdotool
    clang-format shellcheck
    libarchive-dev dpkg-dev file
    libpq5 postgresql postgresql-client
    libmariadb3 mariadb-server mariadb-client
)

mirelo_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# shellcheck disable=SC2120 # extra packages are optional
mirelo_install_packages() {
    local wanted=("${MIRELO_PACKAGES[@]}" "$@") missing=() pkg
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    mirelo_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    mirelo_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
