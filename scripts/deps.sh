#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing. Sourced by ./run.sh and
# ./test.sh; usage: zpi_install_deps <extra packages...>
zpi_base_packages=(cmake g++ ninja-build pkg-config qt6-base-dev qt6-translations-l10n libgl-dev
                   libgtest-dev libcli11-dev nlohmann-json3-dev libssl-dev fonts-dejavu-core fonts-liberation)

zpi_install_deps() {
  local wanted=("${zpi_base_packages[@]}" "$@") missing=() pkg
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
