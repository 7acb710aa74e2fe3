#!/usr/bin/env bash
# The schema is valid draft 2020-12 and agrees with the program on the README's
# examples, the test suites' documents and a table of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=${FERROGLADE_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
binary=${FERROGLADE_TUNNEL:?FERROGLADE_TUNNEL must name the built binary}

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root for the namespaces" >&2
  exit 77
fi
if ! unshare --mount --net --pid --fork --mount-proc true 2>/dev/null; then
  echo "skipped: cannot create namespaces here" >&2
  exit 77
fi
# Debian's python3-jsonschema first: that is what CI installs.
for python in /usr/bin/python3 python3; do
  if "$python" -c 'import jsonschema; jsonschema.Draft202012Validator' 2>/dev/null; then
    exec "$python" "$here/schema_agreement.py" "$source_dir" "$binary"
  fi
done
echo "skipped: no python3 with jsonschema (Debian package python3-jsonschema)" >&2
exit 77
