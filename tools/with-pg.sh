#!/usr/bin/env bash
# Runs a command with a throwaway PostgreSQL server (tools/pg.sh) named in
# STOLVA_TEST_SERVER, then stops the server whatever the command did.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
eval "$(bash "$here/pg.sh" start)"
trap 'bash "$here/pg.sh" stop "$STOLVA_PG_DIR"' EXIT
"$@"
