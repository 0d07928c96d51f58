#!/usr/bin/env bash
# The tour's Messages act: a text typed in the simulated Messages application
# travels the whole way (Messages host, where Pelorin7 logs it, the daemon host,
# where Quenlow routes it, the stand-in Google Voice service), and the switch
# panel turns "everything through Google Voice" on. Arguments: build folder,
# root folder (the device lives in its own folder inside it).
set -euo pipefail
build=$1
root=$2/messages-device
section() { printf '\n== %s ==\n\n' "$1"; }

mkdir -p "$root/var/mobile/Library/Preferences"
# Texts to (212) numbers go by carrier, by the user's rule.
PELORIN_ROOT=$root "$build/bin/pelorinctl" rules set 212 carrier >/dev/null

section "A device with the Messages application and the switch panel"
eval "$("$build/bin/pelorin-sim" up --root "$root" --gv-service 2>/dev/null)"
trap '"$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true' EXIT
echo "Messages host (com.talvern.sim.Messages) and daemon host up in $root"

events=$root/var/run/pelorin-sim/events.jsonl
# Prints the state of the stored text once the daemon host settled it, and
# where the carrier sent it (an absent list: it never reached the carrier).
outcome() {
  local line=""
  for _ in $(seq 100); do
    line=$(grep -F "\"text\":\"$1\"" "$events" | grep -E '"state":"(sent|failed)"' | tail -n1 || true)
    [[ -n "$line" ]] && break
    sleep 0.1
  done
  [[ -n "$line" ]] || { echo "  (still sending)"; return 0; }
  local state via
  state=$(sed -E 's/.*"state":"([a-z]+)".*/\1/' <<<"$line")
  via=$(sed -E 's/.*"carrierRecipients":(null|\[[^]]*\]).*/\1/' <<<"$line")
  if [[ "$via" == null ]]; then echo "  $state, not by carrier"; else echo "  $state, by carrier to $via"; fi
}
texts() {
  local admin
  admin=$(sed -E 's/.*"admin_url": *"([^"]*)".*/\1/' "$root/var/run/pelorin-sim/gv-ready.json")
  curl -s "$admin/admin/texts" | grep -oE '"(to|text)": ?"[^"]*"' | sed -E 's/^"[a-z]+": ?//' |
    paste - - | sed 's/^/  /'
}

section "A text typed in Messages (default settings: through Google Voice)"
pelorinctl send --to "(415) 555-0123" "Hello from the Messages app"
outcome "Hello from the Messages app"
echo "Pelorin7's lines in the log, from the Messages application:"
grep -A2 "CKConversation_" "$root/var/tmp/com.talvern.Pelorin7.log.txt" | sed 's/^/  /'

section "A text to a number the rules send by carrier"
pelorinctl send --to "(212) 555-1212" "By carrier, as the rule says"
outcome "By carrier, as the rule says"

section "The switch panel: Google Voice for all"
pelorin-switches list
pelorin-switches set com.talvern.dorvessa on
sleep 0.5  # the daemon host reads the settings again when the notification arrives
pelorinctl send --to "(212) 555-1212" "Now through Google Voice"
outcome "Now through Google Voice"
pelorin-switches set com.talvern.dorvessa off >/dev/null

section "What the Google Voice service received"
texts
