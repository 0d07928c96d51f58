#!/usr/bin/env bash
# The rules editor: contacts in the address book, rules set from a script,
# and the editor's list screen as a person sees it (captured from a tmux
# terminal of 80x24, so it runs without one). Arguments: build folder, root.
set -euo pipefail
build=$1
root=$2
export PELORIN_ROOT=$root
ctl="$build/bin/pelorinctl"
editor="$build/bin/pelorin-rules"
section() { printf '\n== %s ==\n\n' "$1"; }

section "Contacts the editor's picker offers"
"$ctl" contacts add "Ada Lovelace" --phone "(212) 555-1212" >/dev/null
"$ctl" contacts add "Bea Martin" --phone "home:(310) 555-0000" --phone "work:+44 20 7946 0123" \
  --email bea@example.com >/dev/null
"$ctl" contacts list

section "Rules set from a script, stored as the editor stores them"
"$ctl" rules set "(212)" gv
"$ctl" rules set "+44" carrier
"$ctl" rules set "0044" gv
"$ctl" rules list
"$ctl" rules match 12125551212 011442079460123

[[ -x "$editor" ]] || { echo "pelorin-rules not built in $build" >&2; exit 1; }
if ! command -v tmux >/dev/null; then
  echo "(tmux is not installed: the editor's screens are not shown)"
  exit 0
fi

socket="$root/rules-tour.tmux"
tmux_() { tmux -S "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null || true' EXIT
# Polls the screen for a text, for at most five seconds.
wait_for() {
  for _ in $(seq 100); do
    tmux_ capture-pane -p -t 0 | grep -qF -- "$1" && return 0
    sleep 0.05
  done
  echo "the editor did not show: $1" >&2
  return 1
}
show() { tmux_ capture-pane -p -t 0 | sed -e 's/^/    /' -e 's/ *$//' | cat -s; }

tmux_ -f /dev/null new-session -d -x 80 -y 24 env "PELORIN_ROOT=$root" "$editor"
section "pelorin-rules: the launch alert"
wait_for "Dismiss"
show
tmux_ send-keys -t 0 Enter
wait_for "[Add]"
section "pelorin-rules: the list (Enter opens, a adds, e edits, q quits)"
show
tmux_ send-keys -t 0 a
wait_for "+    "
tmux_ send-keys -t 0 Enter
wait_for "Edit Rule"
tmux_ send-keys -t 0 Tab Tab Enter
wait_for "Ada Lovelace"
tmux_ send-keys -t 0 Enter
wait_for "+12125551212"
section "pelorin-rules: a rule added with a, opened, its prefix taken from Ada Lovelace's card"
show
tmux_ send-keys -t 0 Escape
wait_for "12125551212"
tmux_ send-keys -t 0 q
echo
echo "Back on the list the rule was stored under 12125551212:"
"$ctl" rules list
