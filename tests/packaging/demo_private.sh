#!/bin/sh
# `scripts/demo --check` from a checkout inside a private folder (mode 0700, as
# a Debian home folder is), where the servers' own unprivileged processes
# cannot read anything.
# usage: demo_private.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1
build=$2
private=$(mktemp -d "$build/private-home.XXXXXX")
trap 'rm -rf "$private"' EXIT
chmod 0700 "$private"
checkout=$private/checkout
mkdir -p "$checkout/tests"
# What the demo runs: its scripts, the test servers and the delivered files.
cp -R "$src/scripts" "$src/assets" "$checkout/"
cp -R "$src/tests/servers" "$checkout/tests/"
sh "$checkout/scripts/demo" --build "$build" --dir "$checkout/build/demo" --check
