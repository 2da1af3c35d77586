#!/usr/bin/env python3
"""Writes the demo map with every endpoint on one https server, and the
folder that server serves, holding the demo's own documents.

URL keys come from the key index in docs/configuration.md, as in
bench/stalled/stalled_map.py, so that a URL key added there is not left
pointing elsewhere:
- a URL whose demo value is a file below the demo root is served from the
  same path below BASE, with a copy of that file or folder;
- a URL the demo answers from an offline file (the feed reads that file
  instead of asking) keeps the path of its demo value, else of its default,
  and the server gives the offline file there;
- a URL root under which a feed asks for a document named by the vehicle
  id gets that offline file at that path (ROOT_DOCUMENTS);
- any other URL key with a value gets BASE and its path, with no document:
  the feed is off in the demo, and nothing leaves loopback.
The demo root is copied to ROOT without its offline files, so that every
feed asks the server, and the timeline feed is turned off: its own script
runs curl outside the module's downloads. "CurlParams" is the demo's with
CACERT trusted; 8 parallel downloads.

Usage: https_map.py DEMO_MAP DEMO_ROOT KEY_INDEX BASE CACERT ROOT WWW OUT
"""
import json
import os
import re
import shutil
import sys
from urllib.parse import urlsplit

INDEX_BEGIN = "<!-- key index: generated from core/config/config_table.cpp, checked by its test -->"
INDEX_END = "<!-- end of key index -->"
ROW = re.compile(r'^\| "([^"]+)" \| ([^|]+) \| (.*) \| [^|]* \|$')
OFFLINE = "vorn/media/offline"
# The offline file that stands in for each URL's reply in the demo.
OFFLINE_REPLY = {
    "rss_url": "rss.xml",
    "rail_departures_url": "darwin.xml",
    "flight_departures_url": "flight_departures.json",
    "flight_security_url": "flight_security.json",
    "flight_departures_azinq_url": "flight_departures_azinq.json",
    "service_alerts_url": "service_alerts.json",
    "siri_sm_url": "siri_sm.xml",
}
# Both SIRI feeds post to one URL, and a static server cannot tell their
# requests apart: the reply is the departures document with the terminus
# document's visits added, so that each feed finds what it reads.
SIRI_MERGED = ("siri_sm_url", "siri_sm_tt.xml")
# The Azinq feed sends nothing without its credentials; the demo, reading its
# offline file, has none.
NEEDED_SECRETS = ("flight_departures_username", "flight_departures_password", "flight_departures_token")
# Documents a feed asks for below its URL root, by a path with the vehicle
# id in it; a root unset in the demo gets a path of its own.
ROOT_DOCUMENTS = {
    "open_data_tfl_url": ("/Vehicle/{vehicle}/Arrivals", "open_data.json"),
    "tco_url": ("/{vehicle}", "tco_data.json"),
}


def key_index(path):
    text = open(path, encoding="utf-8").read()
    start = text.find(INDEX_BEGIN)
    for line in text[start:text.find(INDEX_END, start)].splitlines() if start >= 0 else []:
        match = ROW.match(line)
        if match:
            key, kind, default = match.groups()
            quoted = re.match(r'^"(.*)"', default)
            yield key, kind, quoted.group(1) if quoted else ""


def place(src, www, path):
    dest = os.path.join(www, path.lstrip("/"))
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    if os.path.isdir(src):
        shutil.copytree(src, dest, dirs_exist_ok=True)
    else:
        shutil.copyfile(src, dest)


def merge_visits(reply, other):
    """Adds the stop visits of the document other to the reply's delivery."""
    visits = re.findall(r"<MonitoredStopVisit>.*?</MonitoredStopVisit>",
                        open(other, encoding="utf-8").read(), re.S)
    text = open(reply, encoding="utf-8").read()
    end = text.rindex("</StopMonitoringDelivery>")
    with open(reply, "w", encoding="utf-8") as f:
        f.write(text[:end] + "".join(visits) + text[end:])


def main(demo_map, demo_root, index, base, cacert, root, www, out):
    demo_root = os.path.abspath(demo_root)
    params = json.loads(open(demo_map, encoding="utf-8").read())
    p = params["ModuleParams"]
    shutil.copytree(demo_root, root, ignore=shutil.ignore_patterns("offline"))
    vehicle = open(os.path.join(demo_root, "vorn/vehicle_id"), encoding="utf-8").read().strip()
    rows = list(key_index(index))
    if not any(kind.startswith("string (URL") for _, kind, _ in rows):
        sys.exit(f"https_map.py: no URL key found in the key index of {index}")
    for key, kind, default in rows:
        value = p.get(key) or default
        if kind.startswith("string (URL"):
            if value.startswith("file://@DEMO_ROOT@/"):
                path = value[len("file://@DEMO_ROOT@"):]
                place(os.path.join(demo_root, path.lstrip("/")), www, path)
            elif key in ROOT_DOCUMENTS:
                path = urlsplit(value).path or "/" + key[:-len("_url")]
            elif key in OFFLINE_REPLY:
                path = urlsplit(value).path
                place(os.path.join(demo_root, OFFLINE, OFFLINE_REPLY[key]), www, path)
            elif value:
                path = urlsplit(value).path
            else:
                continue  # unset and off: setting it would add a request
            if key in ROOT_DOCUMENTS:
                suffix, doc = ROOT_DOCUMENTS[key]
                place(os.path.join(demo_root, OFFLINE, doc), www, path + suffix.format(vehicle=vehicle))
            if key == SIRI_MERGED[0]:
                merge_visits(os.path.join(www, path.lstrip("/")), os.path.join(demo_root, OFFLINE, SIRI_MERGED[1]))
            query = urlsplit(value).query if not value.startswith("file:") else ""
            p[key] = base + path + ("?" + query if query else "")
    text = json.dumps(params, indent=2).replace("@DEMO_ROOT@", os.path.abspath(root))
    params = json.loads(text)
    p = params["ModuleParams"]
    for key in NEEDED_SECRETS:
        p.setdefault(key, "measure-secret")
    p["twitter_enable"] = 0
    p["max_parallel_downloads"] = 8
    # --cycles runs its cycles back to back; a short interval keeps the
    # same pace when the runner is left to its timer.
    p["poll_interval"] = 1
    p["CurlParams"] = p.get("CurlParams", "") + " --cacert " + cacert
    with open(out, "w", encoding="utf-8") as f:
        json.dump(params, f, indent=2)


if __name__ == "__main__":
    if len(sys.argv) != 9:
        sys.exit(__doc__.rsplit("\n\n", 1)[-1].strip())
    main(*sys.argv[1:])
