#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the package and the demo
# need, when any of them is missing. Non-interactive; uses sudo only when not
# root. Says in one line per step what it installs and why; the package
# manager's own output goes to a log file, shown only when a step fails.
set -euo pipefail

# Why each group is needed, then its packages.
groups=(
  "to build"             "build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev"
  "for the tests and benchmarks" "libgtest-dev libgmock-dev libbenchmark-dev"
  "for property lists, HTTPS and D-Bus" "libplist-dev libcurl4-openssl-dev libssl-dev openssl curl libsystemd-dev systemd dbus dbus-bin"
  "for the command line, the service and JSON" "libcli11-dev libcpp-httplib-dev nlohmann-json3-dev"
  "for phone numbers and the demo" "libphonenumber-dev jq"
  "for the address book, the rules editor and mail" "libsqlite3-dev libncurses-dev tmux libgmime-3.0-dev libglib2.0-dev"
  "for the Debian package, man pages and completion" "debhelper dpkg-dev fakeroot lintian scdoc bash-completion"
  "for the web view's tests in a real browser" "chromium chromium-driver python3-selenium"
)

# Every package installed now, in one query.
declare -A present=()
all=()
for ((i = 1; i < ${#groups[@]}; i += 2)); do all+=(${groups[i]}); done
while read -r package status; do
  [[ "$status" == "install ok installed" ]] && present[${package%%:*}]=1
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${all[@]}" 2>/dev/null || true)

missing_groups=()
for ((i = 0; i < ${#groups[@]}; i += 2)); do
  missing=()
  for package in ${groups[i + 1]}; do [[ -n "${present[$package]:-}" ]] || missing+=("$package"); done
  [[ ${#missing[@]} -eq 0 ]] || missing_groups+=("${groups[i]}" "${missing[*]}")
done
[[ ${#missing_groups[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
log=${TMPDIR:-/tmp}/pelorin-install-deps.log
: >"$log"

# Runs one step quietly; on failure shows its log and stops.
step() {
  local what=$1
  shift
  echo "install-deps: $what"
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: failed: $what; the package manager said:" >&2
    cat "$log" >&2
    exit 1
  fi
}

step "updating the package lists (log: $log)" $sudo apt-get update -q
for ((i = 0; i < ${#missing_groups[@]}; i += 2)); do
  step "installing ${missing_groups[i + 1]} (${missing_groups[i]})" \
    $sudo apt-get install -y -q --no-install-recommends ${missing_groups[i + 1]}
done
