#!/usr/bin/env bash
# The manual page renders without a single warning and shows the usage text
# exactly as the program prints it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
page="$here/../ferroglade-tunnel.8"
binary=${FERROGLADE_TUNNEL:?FERROGLADE_TUNNEL must name the built binary}
if ! command -v groff >/dev/null || ! command -v man >/dev/null; then
  echo "skipped: needs groff and man-db" >&2
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0

if ! groff -man -ww -z "$page" 2>"$tmp/groff.err" || [ -s "$tmp/groff.err" ]; then
  echo "FAIL groff -man -ww reports:"; cat "$tmp/groff.err"; failed=1
fi
if ! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$tmp/page.txt" 2>"$tmp/man.err" || [ -s "$tmp/man.err" ]; then
  echo "FAIL man --warnings reports:"; cat "$tmp/man.err"; failed=1
fi

# Usage comes from the binary itself, so the page cannot drift from it.
rc=0
"$binary" >/dev/null 2>"$tmp/usage" </dev/null || rc=$?
if [ "$rc" -ne 2 ] || [ "$(wc -l <"$tmp/usage")" -ne 2 ]; then
  echo "FAIL the binary printed no two-line usage (status $rc)"; failed=1
fi
sed 's/^       //' "$tmp/page.txt" >"$tmp/flat.txt"
if ! grep -qxF -f <(head -1 "$tmp/usage") "$tmp/flat.txt" || ! grep -qxF -f <(tail -1 "$tmp/usage") "$tmp/flat.txt"; then
  echo "FAIL the page does not show the usage text verbatim:"; cat "$tmp/usage"; failed=1
fi

# The page is written by hand, so its version must follow the project's.
if [ -n "${FERROGLADE_VERSION:-}" ] && ! grep -q "^\.TH .* \"ferroglade-tunnel ${FERROGLADE_VERSION//./\\.}\"" "$page"; then
  echo "FAIL the page's .TH line does not name version $FERROGLADE_VERSION"; failed=1
fi

# Every section a reader looks for is there.
for section in NAME SYNOPSIS DESCRIPTION COMMANDS DOCUMENT "HOST CHANGES" "EXIT STATUS" DIAGNOSTICS ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
  grep -qx "$section" "$tmp/page.txt" || { echo "FAIL section $section is missing"; failed=1; }
done

if [ "$failed" -eq 0 ]; then echo "manual page: 1 passed, 0 failed"; else echo "manual page: 0 passed, 1 failed"; fi
exit "$failed"
