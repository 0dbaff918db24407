# Shared by run.sh and test.sh: install the Debian packages of packages.txt.
set -euo pipefail
VELKOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

velkor_install_packages() {
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    mapfile -t pkgs < <(grep -v -E '^\s*(#|$)' "$VELKOR_ROOT/scripts/packages.txt")
    local missing=()
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
        # Kamailio runs only in the foreground from the local service's launcher:
        # no system service of it listening on the network.
        if printf '%s\n' "${missing[@]}" | grep -qx kamailio && command -v systemctl >/dev/null; then
            $sudo systemctl disable --now kamailio >/dev/null 2>&1 || true
        fi
    fi
}

# velkor_build DIR [cmake options...]
velkor_build() {
    local dir=$1; shift
    cmake -S "$VELKOR_ROOT" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$(nproc)"
}
