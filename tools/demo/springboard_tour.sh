#!/usr/bin/env bash
# The home screen's act: a simulated device with the home-screen host beside
# the messaging daemon host, Hestrel.so and Quenlow.so loaded. A Google Voice
# push arrives at the home screen and ends in the daemon's message store; a
# settings change brings its alerts. Arguments: build folder, root folder.
set -euo pipefail
build=$1
root=$2
section() { printf '\n== %s ==\n\n' "$1"; }

section "A device with a home screen, and the stand-in Google Voice service"
eval "$("$build/bin/pelorin-sim" up --root "$root" --gv-service 2>/dev/null)"
trap '"$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true' EXIT
echo "The home-screen host serves com.talvern.sim.SpringBoard; the daemon host"
echo "com.talvern.sim.MessagingDaemon. Both loaded their tweak:"
grep -h '"event":"tweak"' "$root/var/run/pelorin-sim/springboard-events.jsonl" \
  "$root/var/run/pelorin-sim/events.jsonl" | sed -E 's/.*"name":"([^"]*)".*/  \1/'

# The home screen's alerts from the FIRST-th on, as pelorinctl alerts shows them.
home_alerts() {
  pelorinctl alerts | awk -v first="$1" '/^(Alert|Banner) on /{show = /^Alert on the home screen/ && ++n >= first} show'
}

section "Receiving through the official app's pushes is switched on"
pelorinctl settings set enableReceiveOfficialGV true >/dev/null
sleep 0.5
home_alerts 1

section "Pushes arrive at the home screen"
show_push() {
  printf '  %-20s %-42s -> %s\n' "$1" "$(printf '%s' "$2" | tr '\n' '|')" \
    "$(pelorinctl push --topic "$1" "$2")"
}
show_push com.google.GVDialer $'Text from (415) 555-0199:\nAre we still on for 6?'
show_push com.google.GVDialer $'Text from Ann O\'Brien:\nRunning late, sorry'
show_push com.google.GVDialer 'Voicemail from (415) 555-0199'
show_push com.example.chat $'Text from Bob:\nlunch?'
echo
echo "Forwarded pushes are not shown; the home screen showed these banners:"
busctl --user call com.talvern.sim.SpringBoard /com/talvern/sim/SpringBoard \
  com.talvern.sim.SpringBoard ListBanners uu 0 0 | sed -E 's/^s "//; s/"$//; s/\\"/"/g; s/^/  /'

section "The texts in the daemon's message store, from their real senders"
sleep 0.5
busctl --user call com.talvern.sim.MessagingDaemon /com/talvern/sim/MessagingDaemon \
  com.talvern.sim.MessagingDaemon ListMessages uu 0 0 | sed -E 's/^s "//; s/"$//; s/\\"/"/g' |
  grep -oE '"(sender|service|text)": ?"[^"]*"' | sed -E 's/"[a-z]+": ?//; s/"//g' |
  paste - - - | awk -F'\t' '{printf "  %-5s from %-16s %s\n", $2, $1, $3}'

section "One settings change, three alerts"
echo "Mail receiving on as well, international SMS through Google Voice without"
echo "an own number, and the device said not to be an iPhone:"
pelorinctl settings set enableMailReceive true intlSMSviaGV true phoneNumber "" \
  isAniPhone false >/dev/null
sleep 0.5
home_alerts 2
