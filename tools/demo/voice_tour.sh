#!/usr/bin/env bash
# The tour's second act: the Google Voice client against the stand-in service,
# over real TLS on loopback. Arguments: build folder, root folder.
set -euo pipefail
build=$1
root=$2
ctl="$build/bin/pelorinctl"
section() { printf '\n== %s ==\n\n' "$1"; }
field() { sed -E "s/.*\"$1\":\"([^\"]*)\".*/\\1/" "$2"; }

state="$root/var/run/gv-service"
mkdir -p "$state"
"$build/bin/pelorin-gv-service" --cert-out "$state/ca.pem" --ready-file "$state/ready.json" \
  </dev/null >/dev/null 2>"$state/service.log" &
service=$!
trap 'kill $service 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s "$state/ready.json" ]] && break; sleep 0.1; done

export PELORIN_GV_URL=$(field url "$state/ready.json")
export PELORIN_GV_CACERT=$state/ca.pem
admin=$(field admin_url "$state/ready.json")

section "The stand-in Google Voice service"
echo "Serving $PELORIN_GV_URL (admin interface $admin); the client trusts its certificate."

# The account, as the settings screen would store it for every library
# (private: it holds the password).
(umask 077 && cat > "$root/var/mobile/Library/Preferences/com.talvern.Pelorin.plist") <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>username</key><string>pelorin.demo@gmail.com</string>
  <key>password</key><string>voice-demo</string>
  <key>phoneNumber</key><string>(212) 555-0100</string>
</dict></plist>
PLIST

section "Sign in, read the account, send a text"
"$ctl" gv login
"$ctl" gv number
"$ctl" gv send --to "(415) 555-0123" --to "+1 310 555 0188" "Dinner at eight? Bring 2 & a half pies (100% sure)"

section "An access number lets the carrier reach a number through Google Voice"
"$ctl" gv access-number "(310) 555-0199"
"$ctl" gv access-number "(310) 555-0199"
echo "(the second answer came from the shared cache, without a request)"

section "Who is 'Tom & Jerry <Cheese Co.>'? The recent-texts page knows"
"$ctl" gv inbox --sender "Tom & Jerry <Cheese Co.>"

section "What the service received"
curl -s "$admin/admin/texts" | sed 's/},{/}\n{/g; s/^\[//; s/\]$//'
echo
echo "Requests, in order:"
curl -s "$admin/admin/journal" | grep -oE '"method":"[A-Z]+"|"status":[0-9]+|"target":"[^"]*"' |
  sed -E 's/"[a-z]+"://; s/"//g' | paste - - - | awk -F'\t' '{printf "  %-5s %-45s %s\n", $1, substr($3, 1, 45), $2}'
