#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any of them is missing. Non-interactive; uses sudo only when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libplist-dev libcurl4-openssl-dev libssl-dev openssl curl
  libsystemd-dev systemd dbus dbus-bin
  libcli11-dev libcpp-httplib-dev nlohmann-json3-dev
  libphonenumber-dev jq
  libsqlite3-dev libncurses-dev tmux
  libgmime-3.0-dev libglib2.0-dev
  chromium chromium-driver python3-selenium
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
