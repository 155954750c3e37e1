# Installs the Debian packages Mirelo needs to build and test, only those missing.
# Usage: mirelo_install_packages [extra package…]

MIRELO_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    dbus-daemon fonts-dejavu-core openssl
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
