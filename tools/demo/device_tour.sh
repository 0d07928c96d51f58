#!/usr/bin/env bash
# The tour's third act: a simulated device. A private session bus and the
# messaging daemon host come up in the root; notifications and the host's
# control interface are driven over D-Bus. Arguments: build folder, root folder.
set -euo pipefail
build=$1
root=$2
section() { printf '\n== %s ==\n\n' "$1"; }

section "A simulated device: session bus and messaging daemon host"
eval "$("$build/bin/pelorin-sim" up --root "$root")"
trap '"$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true' EXIT
echo "Bus $DBUS_SESSION_BUS_ADDRESS; the daemon host serves com.talvern.sim.MessagingDaemon."

section "System-wide notifications cross processes"
pelorinctl notify watch --count 2 --timeout 5 com.talvern.DorvessaRulesChangedNotification \
  com.talvern.PelorinSettingsNotification &
watcher=$!
sleep 0.3
pelorinctl notify post com.talvern.DorvessaRulesChangedNotification
dbus-send --session --type=signal /com/talvern/platform/Notify com.talvern.platform.Notify.Post \
  string:com.talvern.PelorinSettingsNotification
wait $watcher

section "Texts through the daemon host's control interface"
daemon=(com.talvern.sim.MessagingDaemon /com/talvern/sim/MessagingDaemon com.talvern.sim.MessagingDaemon)
call() { busctl --user call "${daemon[@]}" "$@" | cut -d' ' -f2-; }
echo "Outgoing SMS to 2125551212, message id $(call SendSMS assu 1 2125551212 "Running late" 1)"
echo "Incoming SMS from 4155550123, message id $(call DeliverSMS ss 4155550123 "No problem")"
call CreateChat ssas iMessage +14155550123 1 +14155550123 >/dev/null
echo "iMessage to +14155550123, guid $(call SendChatMessage ssassas iMessage +14155550123 1 \
  +14155550123 "See you soon" 0)"

section "The message store"
busctl --user call "${daemon[@]}" ListMessages uu 0 0 | sed -E 's/^s "//; s/"$//; s/\\"/"/g' |
  grep -oE '"(service|direction|text|state)": ?"[^"]*"' | sed -E 's/"[a-z]+": ?//; s/"//g' |
  paste - - - - | awk -F'\t' '{printf "  %-9s %-9s %-14s %s\n", $1, $2, $4, $3}'
