#!/usr/bin/env bash
# The tour's Quenlow act: a device with the stand-in Google Voice service, a
# text sent by each route, the reason for each route, and a Google Voice text
# handed to the daemon becoming an ordinary incoming message. Arguments: build
# folder, root folder.
set -euo pipefail
build=$1
root=$2
section() { printf '\n== %s ==\n\n' "$1"; }

section "A device with Quenlow loaded and the stand-in Google Voice service"
eval "$("$build/bin/pelorin-sim" up --root "$root" --gv-service 2>/dev/null)"
trap '"$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true' EXIT
admin=$(jq -r .admin_url "$root/var/run/pelorin-sim/gv-ready.json")
echo "Daemon host with $(ls "$root/Library/MobileSubstrate/DynamicLibraries" | grep -c '\.so$') tweak(s);"
echo "Google Voice at $PELORIN_GV_URL, signed in as $(pelorinctl settings show --json |
  jq -r 'select(.key == "username") | .value')."

daemon=(com.talvern.sim.MessagingDaemon /com/talvern/sim/MessagingDaemon
        com.talvern.sim.MessagingDaemon)
# The store's messages: a tour's few fit on the first page.
messages() {
  busctl --user --json=short call "${daemon[@]}" ListMessages uu 0 0 | jq '.data[0] | fromjson | .items'
}
# Waits until no message of the store is still being sent.
settle() {
  for _ in $(seq 100); do
    messages | jq -e 'all(.[]; .state != "sending")' >/dev/null && return 0
    sleep 0.05
  done
}
# send TEXT RECIPIENT...: a one-part SMS
send() {
  local text=$1
  shift
  busctl --user call "${daemon[@]}" SendSMS assu "$#" "$@" "$text" 1 >/dev/null
}

section "Rules and settings for the tour"
pelorinctl rules set "(310)" carrier
pelorinctl rules set "+44" gv
pelorinctl settings set intlSMSviaGV true

section "Why each text goes where it goes"
pelorinctl route "(212) 555-1212" "(310) 555-0123" "+44 20 7946 0123" "911"

section "Texts sent by each route"
send "Running late" "(212) 555-1212" && settle
send "Dinner at eight?" "(310) 555-0123" && settle
send "Landed in London" "+44 20 7946 0123" && settle
send "One text, two people" "(212) 555-1212" "(415) 555-0100" && settle
messages | jq -r '.[] | "  #\(.messageId)  to \(.recipients | join(", "))" +
  (if .carrierRecipients then " (carrier to \(.carrierRecipients | join(", ")))" else "" end) +
  ": \(.state)  \"\(.text)\""'
echo
echo "The Google Voice service received:"
curl -s "$admin/admin/texts" | jq -r '.[] | "  to \(.to): \"\(.text)\""'

section "A rule saved while the device runs changes the next text's route"
pelorinctl rules set "(212)" carrier
pelorinctl route --json "(212) 555-1212" | jq -c '{input, ruleKey, route}'
send "Actually, calling instead" "(212) 555-1212" && settle
messages | jq -r 'last | "  #\(.messageId)  to \(.recipients | join(", ")): \(.state) by " +
  (if .carrierRecipients then "the carrier" else "Google Voice" end) + "  \"\(.text)\""'

section "A Google Voice text handed to the daemon over the received-SMS centre"
busctl --user call com.talvern.PelorinSMSRecvCenter /com/talvern/PelorinSMSRecvCenter \
  com.talvern.platform.MessagingCenter Send 'sa{sv}' SMSReceived 2 \
  kSGSMSTextMessageKey s "On my way" kSGSMSSenderPhoneKey s "(646) 555-0199"
for _ in $(seq 100); do
  messages | jq -e 'any(.[]; .direction == "incoming")' >/dev/null && break
  sleep 0.05
done
messages | jq -r '.[] | select(.direction == "incoming") |
  "  incoming \(.service) #\(.messageId) from \(.sender): \"\(.text)\""'
