#!/usr/bin/env bash
# package-smoke.sh DIST: installs the Debian package from DIST on this machine,
# runs a device from it as a new user would (a fresh root, a clean
# environment, only the system's PATH), then purges the package and checks
# that none of its files is left. Uses sudo only when not root.
set -euo pipefail
dist=$(cd "$1" && pwd)
debs=("$dist"/pelorin_*.deb)
[[ -f "${debs[0]}" ]] || { echo "package-smoke: no package in $dist" >&2; exit 1; }
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$dist/package-smoke.log
: >"$log"
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-smoke-XXXXXX")

say() { echo "package-smoke: $*"; }
# Runs one step quietly; on failure shows its log and stops.
step() {
  local what=$1
  shift
  say "$what"
  "$@" >>"$log" 2>&1 || { say "failed: $what" >&2; cat "$log" >&2; exit 1; }
}
installed() { [[ "$(dpkg-query -W -f='${Status}' pelorin 2>/dev/null)" == "install ok installed" ]]; }
purge() {
  if [[ -d "$work/root/var/run/pelorin-sim" ]]; then
    /usr/bin/pelorin-sim down --root "$work/root" >>"$log" 2>&1 || true
  fi
  if installed; then $sudo apt-get purge -y -q pelorin >>"$log" 2>&1 || true; fi
  rm -rf "$work"
}
trap purge EXIT

if installed; then step "removing the pelorin package found installed" $sudo apt-get purge -y -q pelorin; fi
step "installing ${debs[0]##*/}" $sudo apt-get install -y -q --no-install-recommends "${debs[@]}"
dpkg-query -L pelorin >"$work/files"

cat >"$work/device.sh" <<'EOF'
# Waits until `pelorinctl messages --json` has a line matching every pattern.
await_message() {
  for _ in $(seq 100); do
    local lines
    lines=$(pelorinctl messages --json)
    for pattern in "$@"; do lines=$(grep -F -- "$pattern" <<<"$lines" || true); done
    [[ -n "$lines" ]] && return 0
    sleep 0.1
  done
  echo "no message with: $*"; pelorinctl messages; return 1
}
cd "$HOME"
eval "$(pelorin-sim up --root "$ROOT" --gv-service)"
[[ "$(command -v pelorinctl)" == /usr/bin/pelorinctl ]]
pelorinctl --version

pelorinctl route --json "(212) 555-1212" | grep -F '"route":"google-voice"'
[[ "$(pelorinctl send --to "(212) 555-1212" "Sent from the package")" == sent ]]
await_message '"route":"google-voice"' '"state":"sent"' '"text":"Sent from the package"'
admin=$(sed -E 's/.*"admin_url": *"([^"]*)".*/\1/' "$ROOT/var/run/pelorin-sim/gv-ready.json")
curl -sf "$admin/admin/texts" | grep -F "Sent from the package"

pelorinctl settings set enableReceiveOfficialGV true
[[ "$(pelorinctl push "Text from (415) 555-0199:
Are we still on?")" == forwarded ]]
await_message '"direction":"incoming"' '"text":"Are we still on?"'
pelorinctl messages
pelorin-sim down
EOF
say "running a device from the package"
mkdir -p "$work/home"
env -i HOME="$work/home" PATH=/usr/local/bin:/usr/bin:/bin ROOT="$work/root" \
  bash -euo pipefail "$work/device.sh" </dev/null >>"$log" 2>&1 ||
  { say "failed: the device" >&2; cat "$log" >&2; exit 1; }

step "purging the package" $sudo apt-get purge -y -q pelorin
left=()
while read -r path; do
  [[ -e "$path" && ! -d "$path" ]] && left+=("$path")
done <"$work/files"
for folder in /usr/lib/pelorin /usr/libexec/pelorin /usr/share/pelorin /usr/share/doc/pelorin; do
  [[ -e "$folder" ]] && left+=("$folder")
done
if [[ ${#left[@]} -gt 0 ]]; then
  say "left behind after the purge: ${left[*]}" >&2
  exit 1
fi
say "installed, ran a device, purged; nothing left (log: $log)"
