#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the command-line demo from there, which
# proves that an installed pelwick-cli finds its catalogue under share/pelwick.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
files=(bin/pelwick-cli share/pelwick/Pelwick_PelwickCore.bundle/known-firmware.json
       share/man/man1/pelwick-cli.1.gz share/doc/pelwick/copyright share/doc/pelwick/changelog.gz
       lib/udev/rules.d/60-pelwick.rules share/bash-completion/completions/pelwick-cli
       share/zsh/vendor-completions/_pelwick-cli share/fish/vendor_completions.d/pelwick-cli.fish)
if [ -e "$build/bin/pelwick" ]; then
    files+=(bin/pelwick share/man/man1/pelwick.1.gz share/applications/pelwick.desktop
            share/icons/hicolor/scalable/apps/pelwick.svg)
fi
for file in "${files[@]}"; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
grep -q 'ATTRS{idVendor}=="03eb", ATTRS{idProduct}=="6124"' "$prefix/lib/udev/rules.d/60-pelwick.rules"
output=$(cd "$prefix" && env -u PELWICK_BUNDLE_DIR "$prefix/bin/pelwick-cli" --demo demo --delay 0 --fast --folder "$prefix/demo")
echo "$output" | tail -n 1 | grep -Eq '^ChE - - [0-9A-F]{4}h$' || { echo "$output" >&2; exit 1; }
echo "installed pelwick-cli ran the demo: $(echo "$output" | tail -n 1)"
