"""Checks that the TunnelConfig schema agrees with the program.

Every document is judged twice: by the schema, and by the real binary's `up`
inside private mount, network and PID namespaces where no `wg` can be found, so
a document the program accepts stops at exactly "error: wg_missing" and nothing
on the host can change. Usage: schema_agreement.py SOURCE_DIR BINARY
"""

import copy
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

import jsonschema

# Runs inside the namespaces: hides every tool the program could start, then
# feeds each document to `up`.
RUNNER = r"""
set -euo pipefail
bin=$1 tmp=$2
mount -t tmpfs tmpfs /usr/sbin
mkdir "$tmp/ovl"
mount -t tmpfs tmpfs "$tmp/ovl"
mkdir "$tmp/ovl/upper" "$tmp/ovl/work"
mount -t overlay overlay -o "lowerdir=/usr/bin,upperdir=$tmp/ovl/upper,workdir=$tmp/ovl/work" /usr/bin
rm -f /usr/bin/wg /usr/bin/ip /usr/bin/resolvectl /usr/bin/resolvconf
for t in wg ip resolvectl resolvconf; do
  for d in /usr/sbin /usr/bin /sbin /bin; do
    if [ -e "$d/$t" ]; then echo "runner: $d/$t is still visible" >&2; exit 1; fi
  done
done
for doc in "$tmp"/in/*; do
  n=${doc##*/}
  rc=0
  "$bin" up <"$doc" >"$tmp/out/$n.out" 2>"$tmp/out/$n.err" || rc=$?
  echo "$rc" >"$tmp/out/$n.rc"
done
"""

ACCEPTED = "error: wg_missing\n"

PRIVATE = "uK2JN3XR7lVbhk2v5jW8GDZQIy3VYMh7ePICjUg2xUA="
PEER = "GBdwlk6Nbat7tGcciOmnXrcHJ6g9pEkMvbB2nyvDkXA="
BASE = {
    "private_key": PRIVATE,
    "address": "10.8.0.2/24",
    "dns": "10.8.0.1",
    "mtu": 1420,
    "peer_public_key": PEER,
    "endpoint": "198.51.100.7:51820",
    "allowed_ips": ["0.0.0.0/0"],
    "keepalive": 25,
}
FIELDS = list(BASE)
DELETE = object()


def variant(**changes):
    doc = copy.deepcopy(BASE)
    for name, value in changes.items():
        if value is DELETE:
            del doc[name]
        else:
            doc[name] = value
    return json.dumps(doc).encode()


def table():
    """(name, document bytes, program accepts, schema accepts)."""
    both_accept = {
        "base": variant(),
        "dns null": variant(dns=None),
        "dns absent": variant(dns=DELETE),
        "dns ipv6 full form": variant(dns="2001:0db8:0000:0000:0000:0000:0000:0053"),
        "dns ipv4-mapped": variant(dns="::ffff:10.0.0.53"),
        "mtu and keepalive at their lowest": variant(mtu=0, keepalive=0),
        "mtu and keepalive at their highest": variant(mtu=4294967295, keepalive=65535),
        "keys with surrounding white space": variant(private_key=PRIVATE + "\n", peer_public_key="\u00a0 " + PEER + "\t"),
        "address without prefix": variant(address="10.8.0.2"),
        "address prefix with plus and zeros": variant(address=" 10.8.0.2/+008 "),
        "endpoint ipv6": variant(endpoint="[2001:db8::1]:51820"),
        "endpoint ipv6 with scope": variant(endpoint="[fe80::1%3]:51820"),
        "endpoint largest scope and port": variant(endpoint="[fe80::1%4294967295]:065535"),
        "allowed_ips mixed families": variant(allowed_ips=["10.1.2.3/8", "::/0", "fd00::/64", "192.0.2.1", "::ffff:1.2.3.4/128"]),
        "allowed_ips sixteen entries": variant(allowed_ips=[f"10.{i}.0.0/16" for i in range(16)]),
        "allowed_ips ipv6 forms": variant(allowed_ips=["1:2:3:4:5:6:7::", "::1", "1::", "1:2:3:4:5:6:7:8/128", "::/000"]),
        "unknown members of any shape": json.dumps(
            dict(BASE, MTU="x", extra={"a": [1, {"b": None}], "c": 1.5e300}, comment=[[[]]])).encode(),
        "members in another order": json.dumps(dict(reversed(list(BASE.items())))).encode(),
        "spread over lines": json.dumps(BASE, indent=4).encode() + b"\n\n",
        "array form": json.dumps([BASE[f] for f in FIELDS]).encode(),
        "array form with dns null": json.dumps([None if f == "dns" else BASE[f] for f in FIELDS]).encode(),
    }
    both_reject = {f"missing {f}": variant(**{f: DELETE}) for f in FIELDS if f != "dns"}
    both_reject.update({
        "document is a string": b'"x"',
        "document is a number": b"1",
        "document is empty object": b"{}",
        "mtu as string": variant(mtu="1420"),
        "mtu negative": variant(mtu=-1),
        "mtu above u32": variant(mtu=4294967296),
        "keepalive above u16": variant(keepalive=65536),
        "keepalive boolean": variant(keepalive=True),
        "private_key null": variant(private_key=None),
        "dns number": variant(dns=5),
        "allowed_ips a string": variant(allowed_ips="10.0.0.0/8"),
        "allowed_ips holding a number": variant(allowed_ips=[1]),
        "allowed_ips empty": variant(allowed_ips=[]),
        "allowed_ips seventeen entries": variant(allowed_ips=["10.0.0.0/8"] * 17),
        "key without padding": variant(private_key=PRIVATE[:-1]),
        "key with url-safe symbol": variant(peer_public_key="-" + PEER[1:]),
        "key with non-zero tail bits": variant(private_key=PRIVATE[:42] + "B="),
        "key of 16 bytes": variant(private_key="AAAAAAAAAAAAAAAAAAAAAA=="),
        "key of 64 bytes": variant(private_key="A" * 86 + "=="),
        "key with inner white space": variant(private_key=PRIVATE[:20] + " " + PRIVATE[20:]),
        "address prefix 7": variant(address="10.8.0.2/7"),
        "address prefix 33": variant(address="10.8.0.2/33"),
        "address ipv6": variant(address="fd00::2/64"),
        "address octet 256": variant(address="10.8.0.256/24"),
        "address leading zero": variant(address="010.8.0.2/24"),
        "address empty prefix": variant(address="10.8.0.2/"),
        "address space before slash": variant(address="10.8.0.2 /24"),
        "address space after slash": variant(address="10.8.0.2/ 24"),
        "dns empty": variant(dns=""),
        "dns two servers": variant(dns="10.0.0.1,10.0.0.2"),
        "dns host name": variant(dns="dns.example"),
        "dns with prefix": variant(dns="10.0.0.1/32"),
        "endpoint host name": variant(endpoint="vpn.example:51820"),
        "endpoint without port": variant(endpoint="198.51.100.7"),
        "endpoint port 0": variant(endpoint="198.51.100.7:0"),
        "endpoint port 65536": variant(endpoint="198.51.100.7:65536"),
        "endpoint ipv6 without brackets": variant(endpoint="2001:db8::1:51820"),
        "endpoint named scope": variant(endpoint="[fe80::1%eth0]:51820"),
        "endpoint scope above u32": variant(endpoint="[fe80::1%4294967296]:51820"),
        "allowed_ips ipv4 prefix 33": variant(allowed_ips=["10.0.0.0/33"]),
        "allowed_ips ipv6 prefix 129": variant(allowed_ips=["::/129"]),
        "allowed_ips two double colons": variant(allowed_ips=["1::2::3/64"]),
        "allowed_ips ipv6 zone": variant(allowed_ips=["fe80::1%3/64"]),
        "array form of seven": json.dumps([BASE[f] for f in FIELDS[:7]]).encode(),
        "array form of nine": json.dumps([BASE[f] for f in FIELDS] + [1]).encode(),
        "array form with a wrong type": json.dumps([BASE[f] if f != "mtu" else "1420" for f in FIELDS]).encode(),
    })
    # What a schema cannot see; the README and the schema's description say so.
    program_only_rejects = {
        "mtu written with a fraction": variant().replace(b'"mtu": 1420', b'"mtu": 1420.0'),
        "mtu written with an exponent": variant().replace(b'"mtu": 1420', b'"mtu": 1.42e3'),
        "duplicate member": variant().replace(b'"mtu": 1420', b'"mtu": 1420, "mtu": 1420'),
    }
    cases = [(n, d, True, True) for n, d in both_accept.items()]
    cases += [(n, d, False, False) for n, d in both_reject.items()]
    cases += [(n, d, False, True) for n, d in program_only_rejects.items()]
    return cases


def readme_examples(source_dir):
    text = open(os.path.join(source_dir, "README.md"), encoding="utf-8").read()
    blocks = re.findall(r"^```json\n(.*?)^```", text, re.S | re.M)
    return [(f"README example {i + 1}", b.encode(), True, True) for i, b in enumerate(blocks)]


def suite_documents(source_dir):
    """JSON files of the other test suites: their expected verdict comes from the program."""
    paths = sorted(glob.glob(os.path.join(source_dir, "tunnel", "tests", "**", "*.json"), recursive=True))
    return [(os.path.relpath(p, source_dir), open(p, "rb").read(), None, None) for p in paths]


def run_program(binary, docs):
    with tempfile.TemporaryDirectory(prefix="ferroglade-schema.") as tmp:
        os.mkdir(os.path.join(tmp, "in"))
        os.mkdir(os.path.join(tmp, "out"))
        for i, doc in enumerate(docs):
            with open(os.path.join(tmp, "in", f"{i:04d}"), "wb") as f:
                f.write(doc)
        subprocess.run(["unshare", "--mount", "--net", "--pid", "--fork", "--mount-proc", "--propagation", "private",
                        "bash", "-c", RUNNER, "runner", binary, tmp], check=True, timeout=600)
        results = []
        for i in range(len(docs)):
            base = os.path.join(tmp, "out", f"{i:04d}")
            rc = int(open(base + ".rc").read())
            err = open(base + ".err", "rb").read().decode("utf-8", "replace")
            out = open(base + ".out", "rb").read()
            results.append((rc, err, out))
        return results


def parse(doc):
    """The document as a JSON schema validator sees it, or None when Python's parser
    cannot stand for the program's (no strict equivalent, or not JSON at all)."""
    def no_constants(name):
        raise ValueError(name)
    try:
        return json.loads(doc.decode("utf-8"), parse_constant=no_constants)
    except (ValueError, RecursionError):
        return None


# Program errors a schema is meant to express; anything else (syntax, duplicate
# names, fractions, the input limit) is outside what JSON Schema can see.
SCHEMA_EXPRESSIBLE = re.compile(
    r"^error: (config json: (invalid type: (?!floating point)|invalid value: |missing field |invalid length )"
    r"|(?!config json: |stream did not contain)[^\n]*$)")


def main():
    source_dir, binary = sys.argv[1], sys.argv[2]
    schema = json.load(open(os.path.join(source_dir, "schema", "tunnel-config.schema.json"), encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    cases = table() + readme_examples(source_dir) + suite_documents(source_dir)
    results = run_program(binary, [c[1] for c in cases])
    failures = 0
    checked = 0
    for (name, doc, want_program, want_schema), (rc, err, out) in zip(cases, results):
        problems = []
        if out or rc != 1 or not err.startswith("error: ") or err.count("\n") < 1:
            problems.append(f"unexpected outcome: status {rc}, stdout {out!r}, stderr {err!r}")
        program_accepts = err == ACCEPTED
        value = parse(doc)
        schema_accepts = None if value is None else validator.is_valid(value)
        if want_program is None:
            # A suite document: accepted by the program means accepted by the schema
            # (array form included); rejected for a reason the schema covers means rejected.
            if value is None:
                want_schema = None
            elif program_accepts:
                want_schema = True
            elif SCHEMA_EXPRESSIBLE.match(err):
                want_schema = False
            else:
                want_schema = None
        elif program_accepts != want_program:
            problems.append(f"program {'accepts' if program_accepts else 'rejects'} it: {err.strip()}")
        if want_schema is not None:
            if schema_accepts is None:
                problems.append("Python cannot parse it")
            elif schema_accepts != want_schema:
                detail = "" if schema_accepts else ": " + "; ".join(e.message for e in validator.iter_errors(value))
                problems.append(f"schema {'accepts' if schema_accepts else 'rejects'} it{detail[:400]}")
        checked += 1
        if problems:
            failures += 1
            print(f"FAIL {name}: " + " | ".join(problems))
    print(f"schema agreement: {checked - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
