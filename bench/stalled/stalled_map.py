#!/usr/bin/env python3
"""Writes the demo map with every endpoint on one loopback server.

The keys come from the key index in docs/configuration.md, which is generated
from the module's key table, so a URL or secret key added there is measured
without editing this file:
- a URL key points at BASE, keeping the path and query of its value in the
  demo map, else of its default; a URL root gets BASE itself;
- a secret key, and every query parameter of those URLs (they carry the
  services' keys and tokens), gets a value found nowhere else, so that any of
  them seen on the process list can be told;
- a user name whose password is secret gets a value, since without a user
  name the password is never sent.
The secrets are written to SECRETS as NAME=VALUE lines, NAME being the key,
or KEY?PARAMETER for a query parameter. EXTRA is a JSON object of members
added last.

Usage: stalled_map.py DEMO_MAP KEY_INDEX ROOT BASE OUT SECRETS [EXTRA]
"""
import hashlib
import json
import re
import sys
from urllib.parse import parse_qsl, urlencode, urlsplit

INDEX_BEGIN = "<!-- key index: generated from core/config/config_table.cpp, checked by its test -->"
INDEX_END = "<!-- end of key index -->"
ROW = re.compile(r'^\| "([^"]+)" \| ([^|]+) \| (.*) \| [^|]* \|$')


def key_index(path):
    """(key, kind, default) for every row of the index, in its order."""
    text = open(path, encoding="utf-8").read()
    start = text.find(INDEX_BEGIN)
    if start < 0:
        return
    for line in text[start:text.find(INDEX_END, start)].splitlines():
        match = ROW.match(line)
        if match:
            key, kind, default = match.groups()
            quoted = re.match(r'^"(.*)"', default)
            yield key, kind, quoted.group(1) if quoted else default


def marker(name):
    """A value found nowhere else; letters and digits only, so that no
    encoding on the way to a command line changes it, and all of one length,
    so that none is part of another."""
    return "MsSecret" + hashlib.sha256(name.encode()).hexdigest()[:10]


def main(demo_map, index, root, base, out, secrets_out, extra="{}"):
    # The demo map is read before its root is filled in, so that a file URL of
    # the demo keeps its path below the root rather than this run's folder.
    template = open(demo_map, encoding="utf-8").read()
    demo = json.loads(template)["ModuleParams"]
    params = json.loads(template.replace("@DEMO_ROOT@", root))
    p = params["ModuleParams"]
    rows = list(key_index(index))
    if not any(kind.startswith("string (URL") for _, kind, _ in rows):
        # A changed index format would otherwise leave the demo's own URLs.
        sys.exit(f"stalled_map.py: no URL key found in the key index of {index}")
    kinds = {key: kind for key, kind, _ in rows}
    secrets = []
    for key, kind, default in rows:
        if kind == "string (URL root)":
            p[key] = base
        elif kind == "string (URL)":
            url = urlsplit(demo.get(key) or default)
            query = []
            for name, _ in parse_qsl(url.query, keep_blank_values=True):
                secrets.append((key + "?" + name, marker(key + "?" + name)))
                query.append((name, secrets[-1][1]))
            p[key] = base + url.path + ("?" + urlencode(query) if query else "")
        elif kind == "string (secret)":
            secrets.append((key, marker(key)))
            p[key] = secrets[-1][1]
            user = key[:-len("_password")] + "_username"
            if key.endswith("_password") and kinds.get(user) == "string":
                p[user] = "measure-user"
    p.update(json.loads(extra))
    with open(out, "w", encoding="utf-8") as f:
        json.dump(params, f, indent=2)
    with open(secrets_out, "w", encoding="utf-8") as f:
        f.writelines(f"{name}={value}\n" for name, value in secrets)


if __name__ == "__main__":
    if len(sys.argv) not in (7, 8):
        sys.exit(__doc__.rsplit("\n\n", 1)[-1].strip())
    main(*sys.argv[1:])
