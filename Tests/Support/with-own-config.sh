#!/bin/sh
# Runs one test program with a user configuration folder of its own. Programs run in parallel, and
# one that switches the language or a setting would otherwise leak it into every other program
# reading the shared folder at that moment.
config="$(mktemp -d "${TMPDIR:-/tmp}/vorn-config.XXXXXX")" || exit 1
XDG_CONFIG_HOME="$config" "$@"
status=$?
rm -rf "$config"
exit "$status"
