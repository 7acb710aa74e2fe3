#!/usr/bin/env bash
# A failing up leaves the namespace exactly as it found it, and a rejected
# document does not disturb a tunnel that is up.
set -euo pipefail
. "$(dirname "$0")/lib/realnet.sh"
realnet_need_binary
realnet_enter "$@"
realnet_make_pair
doc=$REALNET_WORK/doc.json
before=$(realnet_snapshot)

expect_unchanged() {
  local after
  after=$(realnet_snapshot)
  [ "$after" = "$before" ] || {
    diff <(printf '%s\n' "$before") <(printf '%s\n' "$after") >&2 || true
    realnet_fail "$1 changed the namespace"
  }
}

# Each document fails at a route, after the device is up; the real ip's
# complaint comes back inside the error.
while IFS='|' read -r allowed route; do
  realnet_document "$allowed" >"$doc"
  realnet_expect 1 '' "error: ip -4 route add $route: RTNETLINK answers: File exists"$'\n' up "$doc"
  realnet_assert_clean
  expect_unchanged "up with $allowed"
done <<'CASES'
"10.99.0.0/24", "10.98.0.0/24"|10.98.0.0/24 dev ferroglade
"0.0.0.0/0", "0.0.0.0/0"|0.0.0.0/0 dev ferroglade table 51821
"0.0.0.0/0", "10.99.0.0/24", "10.99.0.0/24"|10.99.0.0/24 dev ferroglade
CASES
realnet_expect 0 $'down\n' '' status

# A document that fails validation changes nothing, not even a running tunnel.
realnet_document '"0.0.0.0/0"' >"$doc"
realnet_expect 0 '' '' up "$doc"
during=$(realnet_snapshot)
printf '{"private_key": "%s"}\n' "$REALNET_CLIENT_KEY" >"$REALNET_WORK/bad.json"
realnet_expect 1 '' $'error: config json: missing field `address` at line 1 column 63\n' up "$REALNET_WORK/bad.json"
[ "$(realnet_snapshot)" = "$during" ] || realnet_fail "a rejected document disturbed the running tunnel"
realnet_ping_inside || realnet_fail "the tunnel stopped working after a rejected document"
realnet_expect 0 '' '' down
expect_unchanged "up and down"
echo "PASS: failed up"
