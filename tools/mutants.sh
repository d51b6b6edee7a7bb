#!/usr/bin/env bash
# The mutation check (see tools/mutants.py): every listed mutant applied
# alone, built and run against the whole suite. Takes about a minute a mutant.
exec python3 "$(dirname "$0")/mutants.py" "$@"
