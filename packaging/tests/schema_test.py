#!/usr/bin/python3
"""The schema is valid draft 2020-12 and agrees with the program on a table of documents and the
README's examples. The program judges each with `up` in private namespaces where no `wg` is found,
so an accepted document stops at exactly "error: wg_missing". Usage: SOURCE_DIR BINARY"""
import json, os, re, subprocess, sys
try:
    import jsonschema
except ImportError:
    sys.exit(print("skipped: needs python3-jsonschema", file=sys.stderr) or 77)
# Tools hidden and /run private: a program that went on anyway could change nothing.
HIDE = ["unshare", "-mnpf", "--mount-proc", "sh", "-ec", "mount -t tmpfs none /usr/sbin; mount -t tmpfs none /run; "
        'for t in wg ip resolvectl resolvconf; do [ ! -e /usr/bin/$t ] || mount --bind /dev/null /usr/bin/$t; done; exec "$@"', "-"]
if os.geteuid() or subprocess.run(HIDE + ["true"]).returncode:
    sys.exit(print("skipped: needs root and namespaces", file=sys.stderr) or 77)
src, binary = sys.argv[1:]
schema = json.load(open(f"{src}/schema/tunnel-config.schema.json"))
jsonschema.Draft202012Validator.check_schema(schema)
valid = jsonschema.Draft202012Validator(schema).is_valid

K1, K2 = "uK2JN3XR7lVbhk2v5jW8GDZQIy3VYMh7ePICjUg2xUA=", "GBdwlk6Nbat7tGcciOmnXrcHJ6g9pEkMvbB2nyvDkXA="
BASE = dict(private_key=K1, address="10.8.0.2/24", dns="10.8.0.1", mtu=1420, peer_public_key=K2,
            endpoint="198.51.100.7:51820", allowed_ips=["0.0.0.0/0"], keepalive=25)
ARRAY = list(BASE.values())
def doc(**changes):  # a member set to ... is left out
    return {k: v for k, v in {**BASE, **changes}.items() if v is not ...}
TABLE = [(True, doc(dns=..., mtu=0, keepalive=0, private_key=f"\u00a0{K1}\n", address="10.8.0.2",
                    endpoint="[fe80::1%3]:65535", MTU="x", extra=[{"a": [None, 1.5]}])),
         (True, doc(dns="2001:db8::53", mtu=4294967295, keepalive=65535, peer_public_key=K1[:42] + "w=",
                    allowed_ips=[f"10.{i}.2.3/16" for i in range(15)] + ["fe80::/64"])),
         (True, ARRAY[:2] + [None] + ARRAY[3:])]
TABLE += [(False, d) for d in (
    doc(mtu=...), doc(mtu="1420"), doc(mtu=-1), doc(mtu=4294967296), doc(keepalive=65536), doc(keepalive=True),
    doc(private_key=None), doc(private_key=K1[:42] + "B="), doc(address="10.8.0.2/7"), doc(dns=5),
    doc(dns="10.8.0.1/32"), doc(endpoint="198.51.100.7:0"), doc(endpoint="vpn.example:51820"),
    doc(allowed_ips="10.0.0.0/8"), doc(allowed_ips=[]), doc(allowed_ips=["::/0"] * 17), doc(allowed_ips=["::/129"]),
    ARRAY[:7], "x")]
TABLE += [(True, json.loads(b)) for b in re.findall(r"^```json\n(.*?)^```", open(f"{src}/README.md").read(), re.S | re.M)]

failed = 0
for want, value in TABLE:
    run = subprocess.run(HIDE + [binary, "up"], input=json.dumps(value), capture_output=True, text=True)
    ok = run.returncode == 1 and not run.stdout and run.stderr.startswith("error: ")
    if not ok or (run.stderr == "error: wg_missing\n", valid(value)) != (want, want):
        failed += 1
        print(f"FAIL {json.dumps(value)}: program {run.stderr.strip() if ok else run}, schema valid: {valid(value)}")
print(f"schema: {len(TABLE) - failed} passed, {failed} failed")
sys.exit(failed > 0)
