#!/usr/bin/env bash
# The web view's act: a device with the stand-in Google Voice service, served
# to a browser by pelorin-web. A rule, texts typed in Messages (one failing),
# pushes and a mail arrive while the page is open; a headless Chromium saves
# a picture of the page. Arguments: build folder, root
# folder.
set -euo pipefail
build=$1
root=$2
here=$(cd "$(dirname "$0")" && pwd)
state=$root/var/run/pelorin-sim
section() { printf '\n== %s ==\n\n' "$1"; }

section "The device in a browser: pelorin-web"
eval "$("$build/bin/pelorin-sim" up --root "$root" --gv-service 2>/dev/null)"
"$build/libexec/pelorin/pelorin-web" --root "$root" >"$state/web.url" 2>"$state/web.log" &
web=$!
trap 'kill "$web" 2>/dev/null || true; "$build/bin/pelorin-sim" down --root "$root" >/dev/null 2>&1 || true' EXIT
for _ in $(seq 100); do [[ -s "$state/web.url" ]] && break; sleep 0.1; done
url=$(head -n1 "$state/web.url")
echo "pelorin-web serves the device on loopback; the URL holds the token:"
echo "  ${url%%token=*}token=..."

port=${url#http://127.0.0.1:}
port=${port%%/*}
# What the page does when a person clicks: a POST from its own origin.
page_post() {
  curl -sf -X POST "http://127.0.0.1:$port$1?token=${url##*token=}" \
    -H "Origin: http://127.0.0.1:$port" -H 'Content-Type: application/json' -d "$2" >/dev/null
}

section "A rule, texts, a push and a mail while the page is open"
page_post /api/rules '{"prefix":"(212)","mode":"carrier"}'
pelorinctl send --to "(212) 555-0123" "Carrier, by the rule for (212)" >/dev/null
pelorinctl send --to "12ab" "No such number" >/dev/null || true
pelorinctl settings set enableReceiveOfficialGV true >/dev/null
pelorinctl push $'Text from (415) 555-0199:\nSee you at 6?' >/dev/null
pelorinctl push --topic com.example.chat "Lunch at noon?" >/dev/null
pelorinctl send --to "(415) 555-0199" "Yes, see you there" >/dev/null
busctl --user call com.talvern.sim.Mail /com/talvern/sim/Mail com.talvern.sim.Mail DeliverMail \
  sss pelorin.demo@gmail.com INBOX "$here/../../sim/samples/gv-plain.eml" >/dev/null
sleep 1
page_post /api/alerts/dismiss '{"host":"springboard","index":0,"button":"Dismiss"}'
echo "Done; the home screen's alert about receiving by push was dismissed on the page."

section "A picture of the page"
mkdir -p "$build/demo"
shot=$build/demo/web-view.png
/usr/bin/python3 "$here/../../sim/web/web_screenshot.py" "$url" "$shot" 1280x1500
echo "The page, as headless Chromium showed it: $shot"
