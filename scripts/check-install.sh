#!/usr/bin/env bash
# check-install.sh BUILD: installs the build into a temporary folder (DESTDIR,
# prefix /usr) and checks that every file is where the layout puts it, that
# nothing else was installed, that no installed file names the build folder,
# and that the installed programs run from there and print the version that
# debian/changelog gives too.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
dest=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-install-XXXXXX")
trap 'rm -rf "$dest"' EXIT
status=0
problem() { echo "check-install: $*" >&2; status=1; }

DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
cd "$dest/usr"

commands=(pelorinctl pelorin-sim pelorin-rules pelorin-switches pelorin-gv-service)
hosts=(pelorin-daemon-host pelorin-springboard-host pelorin-messages-host pelorin-mail-host)
expected=(
  "${commands[@]/#/bin/}"
  "${hosts[@]/#/libexec/pelorin/}" libexec/pelorin/librocketbootstrap.so
  lib/pelorin/libpelorin_platform.so
  lib/pelorin/tweaks/{Quenlow,Hestrel,Ombrin,Pelorin7}.{so,plist}
  lib/pelorin/switches/Dorvessa.bundle/{Dorvessa.so,Info.plist}
  share/pelorin/sample-rules.plist share/pelorin/samples/gv-plain.eml
  share/doc/pelorin/README{,.sim,.service,.bench}.md
  "${commands[@]/#/share/man/man1/}" share/man/man5/pelorin-settings.5
)
for file in "${expected[@]}"; do
  [[ "$file" == share/man/man1/* ]] && file=$file.1
  [[ -f "$file" ]] || problem "missing $file"
done
for file in share/bash-completion/completions/{pelorinctl,pelorin-sim}; do
  [[ -f "$file" ]] || problem "missing $file"
done

# Nothing outside the layout's folders.
while read -r file; do
  case "$file" in
    bin/* | libexec/pelorin/* | lib/pelorin/* | share/pelorin/* | share/doc/pelorin/* | \
      share/man/man[15]/pelorin* | share/bash-completion/completions/pelorin*) ;;
    *) problem "installed outside the layout: $file" ;;
  esac
done < <(find . -type f -printf '%P\n')

while read -r file; do problem "$file is a library but executable"; done \
  < <(find . -name '*.so' -perm /111)
while read -r file; do problem "$file names the build folder $build"; done \
  < <(grep -rlF "$build" . || true)

# The installed programs run where they are and agree on the version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
changelog=$(sed -n '1s/^pelorin (\([^)-]*\).*/\1/p' "$source_dir/debian/changelog")
[[ "$changelog" == "$version" ]] || problem "debian/changelog says $changelog, the project $version"
for program in "${commands[@]/#/bin/}" "${hosts[@]/#/libexec/pelorin/}"; do
  said=$("./$program" --version 2>&1 || true)
  [[ "$said" == "$(basename "$program") $version" ]] || problem "$program --version: $said"
done
exit $status
