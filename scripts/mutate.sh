#!/usr/bin/env bash
# Mutation testing of the native test suite: single realistic faults in the
# engine, preprocessing, runtime and tools, one at a time, with the kill rate
# per folder. Not part of the test command: each mutant costs a rebuild and a
# test run (about half a minute on two cores).
#
# Usage: scripts/mutate.sh [--seed S] [--per-folder N] [--build DIR] [--jobs J]
#                          [--folder F]... [--list]
# See scripts/mutation/run_mutants.py for the options and docs/testing.md for
# how to read the report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
exec /usr/bin/python3 scripts/mutation/run_mutants.py "$@"
