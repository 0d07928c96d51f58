#!/usr/bin/env bash
# A short tour of Pelorin: how numbers are read, and how the send rules route
# them. Runs in a temporary root; nothing outside it is touched.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
ctl="$build/bin/pelorinctl"
[[ -x "$ctl" ]] || { echo "pelorinctl not built in $build" >&2; exit 1; }

root=$(mktemp -d)
trap '"$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true; rm -rf "$root"' EXIT
export PELORIN_ROOT=$root

section() { printf '\n== %s ==\n\n' "$1"; }

section "How Pelorin reads phone numbers"
"$ctl" number -- "(212) 555-1212" "+1 (212) 555-1212" "212.555.1212" "+44 20 7946 0123" \
  "011 44 20 7946 0123" "442079460123" "22000" "911" "555-1212" "212-555-1212 x12"

section "The rules editor's forms of what a user types as a prefix"
"$ctl" prefix -- "212" "(212) 555" "+44" "011 44" "0044" "+"

section "A rules file, as the rules editor saves it"
rules="$root/var/mobile/Library/Preferences/com.talvern.Pelorin.rules.plist"
mkdir -p "$(dirname "$rules")"
cp "$here/sample-rules.plist" "$rules"
"$ctl" rules list

section "Which rule routes each recipient (looked up by canonical number)"
numbers=()
for written in "(212) 555-0100" "(212) 555-1212" "(310) 555-1212" "(415) 555-1212" \
               "+44 20 7946 0123" "+33 1 23 45 67 89" "+49 30 1234567"; do
  numbers+=("$("$ctl" number --json -- "$written" | sed -E 's/.*"canonical": *"([^"]*)".*/\1/')")
done
"$ctl" rules match "${numbers[@]}"

printf '\nRule modes: 0 Carrier, 1 Google Voice; -1 means no rule applies and the\n'
printf 'default route decides. The key "+" is a rule added in the editor and never\n'
printf 'opened: it matches no number.\n'

"$here/voice_tour.sh" "$build" "$root"
"$here/device_tour.sh" "$build" "$root"
# Each act from here on has a device of its own.
mkdir -p "$root/quenlow" "$root/editor" "$root/springboard" "$root/mail"
"$here/quenlow_tour.sh" "$build" "$root/quenlow"
"$here/rules_tour.sh" "$build" "$root/editor"
"$here/springboard_tour.sh" "$build" "$root/springboard"
"$here/messages_tour.sh" "$build" "$root"
"$here/mail_tour.sh" "$build" "$root/mail"
mkdir -p "$root/web"
"$here/web_tour.sh" "$build" "$root/web"
