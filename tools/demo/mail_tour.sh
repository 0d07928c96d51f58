#!/usr/bin/env bash
# The mail act: a Google Voice text mail reaches the simulated Mail
# application, Ombrin picks it out and the daemon (Quenlow) turns it into an
# ordinary incoming text. Arguments: build folder, root folder (its settings
# file is replaced).
set -euo pipefail
build=$1
root=$2
samples=$(cd "$(dirname "$0")/../../sim/samples" && pwd)
section() { printf '\n== %s ==\n\n' "$1"; }

section "Receive by mail: the Mail host beside the messaging daemon"
settings="$root/var/mobile/Library/Preferences/com.talvern.Pelorin.plist"
mkdir -p "$(dirname "$settings")"
cat >"$settings" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>enableMailReceive</key><true/>
  <key>enableLogging</key><true/>
  <key>monitorOptions</key><integer>1</integer>
  <key>username</key><string>pelorin.demo</string>
</dict></plist>
PLIST
export PELORIN_SIM_MAIL_ACCOUNT=pelorin.demo@gmail.com
export PELORIN_SIM_MAILDIR="$root/Maildir"
eval "$("$build/bin/pelorin-sim" up --root "$root")"
trap '"$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true' EXIT
echo "Mail receiving on; the watched account is the user name with @gmail.com:"
echo "$PELORIN_SIM_MAIL_ACCOUNT, whose INBOX is also fed from $PELORIN_SIM_MAILDIR/new."

mail=(com.talvern.sim.Mail /com/talvern/sim/Mail com.talvern.sim.Mail)
daemon=(com.talvern.sim.MessagingDaemon /com/talvern/sim/MessagingDaemon
        com.talvern.sim.MessagingDaemon)
unquote() { sed -E 's/^s "//; s/"$//; s/\\"/"/g'; }
# busctl writes bytes beyond ASCII as octal escapes; print them as UTF-8.
utf8() { while IFS= read -r line; do printf '%b\n' "$(sed -E 's/\\([0-7]{3})/\\0\1/g' <<<"$line")"; done; }
incoming() {
  busctl --user call "${daemon[@]}" ListMessages uu 0 0 | unquote |
    grep -oE '"direction": ?"incoming"[^}]*' | grep -oE '"(sender|text)": ?"[^"]*"' |
    sed -E 's/"[a-z]+": ?//; s/"//g' | paste - - | awk -F'\t' '{printf "  from %-12s %s\n", $1, $2}' |
    utf8
}
# Waits until the daemon holds $1 incoming texts.
wait_for() {
  for _ in $(seq 50); do
    [[ $(incoming | wc -l) -ge $1 ]] && return 0
    sleep 0.1
  done
}

section "A text mail and a newsletter delivered to the Mail host"
for sample in gv-plain.eml not-text-mail.eml; do
  grep -m1 '^From:' "$samples/$sample" | sed 's/^/  /'
  echo "  -> stored as $(busctl --user call "${mail[@]}" DeliverMail sss \
    "$PELORIN_SIM_MAIL_ACCOUNT" INBOX "$samples/$sample" | cut -d' ' -f2-)"
done
wait_for 1

section "A quoted-printable Latin-1 text mail fetched into the maildir"
cp "$samples/gv-latin1-qp.eml" "$PELORIN_SIM_MAILDIR/tmp/demo.eml"
mv "$PELORIN_SIM_MAILDIR/tmp/demo.eml" "$PELORIN_SIM_MAILDIR/new/demo.eml"
wait_for 2
echo "  now in $(ls "$PELORIN_SIM_MAILDIR/cur")"

section "The Mail host's store"
busctl --user call "${mail[@]}" ListMail uu 0 0 | unquote |
  grep -oE '"(firstSender|mailbox)": ?"[^"]*"' | sed -E 's/"[a-zA-Z]+": ?//; s/"//g' |
  paste - - | awk -F'\t' '{printf "  %-7s %s\n", $2, $1}'

section "Incoming texts in the daemon's store"
incoming
echo
echo "The newsletter is not from the text-mail domain: it stays mail only."
