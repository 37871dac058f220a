#!/usr/bin/env python3
"""Compares one module run under Wine with what a conformance case expects.

check_case.py CASE_DIR DEST DRIVER_REPORT LOG_FILE MESSAGES_DEF
"""
import datetime
import hashlib
import json
import os
import re
import sys

case_dir, dest, report, log_file, messages_def = sys.argv[1:6]
case = json.load(open(os.path.join(case_dir, "case.json"), encoding="utf-8"))
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


# Message formats of the resource texts (the module shows them).
formats = {}
text = open(messages_def, encoding="utf-8").read()
for m in re.finditer(r'QUILLO_MESSAGE\((\d+), "((?:[^"\\]|\\.)*)"', text):
    formats[int(m.group(1))] = m.group(2).replace('\\"', '"').replace("\\n", "\n")


def format_regex(fmt):
    parts = re.split(r"%[sdu]", fmt)
    return re.compile("^" + ".*".join(re.escape(p) for p in parts) + "$", re.S)


regexes = {i: format_regex(f) for i, f in formats.items()}
report_lines = open(report, encoding="utf-8", errors="replace").read().splitlines()

exit_line = [l for l in report_lines if l.startswith("exit ")]
check(bool(exit_line), "the module ended")
if exit_line:
    code = int(exit_line[-1].split()[1])
    check(code == case["exit_code"], "exit code %d (expected %d)" % (code, case["exit_code"]))

final = case.get("final_dialog")
if final is not None:
    boxes = [l for l in report_lines if l.startswith("msgbox ")]
    want = formats[final].replace("\n", "\\n")
    check(any(l.endswith("text=" + want) for l in boxes), "closing message %d" % final)

# Error lines of the log: every line that is not a progress or volume line.
plain = {101, 102, 121}
ids = []
if os.path.exists(log_file):
    for line in open(log_file, encoding="utf-8", errors="replace").read().splitlines():
        if any(regexes[p].match(line) for p in plain if p in regexes):
            continue
        found = [i for i, r in regexes.items() if i not in plain and r.match(line)]
        ids.append(found[0] if found else line)
check(ids == case["error_messages"], "error messages %s (expected %s)" % (ids, case["error_messages"]))


def local_time(ns):
    t = datetime.datetime.fromtimestamp(ns // 10**9, datetime.timezone.utc)
    return t.strftime("%Y-%m-%d %H:%M:%S") + ".%07d" % ((ns % 10**9) // 100)


expected = case["expected"]
seen = set()
for rel, f in expected["files"].items():
    p = os.path.join(dest, rel)
    seen.add(rel)
    if not os.path.isfile(p):
        check(False, "file %s" % rel)
        continue
    st = os.stat(p)
    if "mtime" in f:
        check(local_time(st.st_mtime_ns) == f["mtime"], "mtime of %s %s (expected %s)" % (rel, local_time(st.st_mtime_ns), f["mtime"]))
    if "atime" in f:
        check(local_time(st.st_atime_ns) == f["atime"], "atime of %s" % rel)
    check(st.st_size == f["size"], "size of %s" % rel)
    check(hashlib.sha256(open(p, "rb").read()).hexdigest() == f["sha256"], "content of %s" % rel)
for rel, d in expected["dirs"].items():
    p = os.path.join(dest, rel)
    seen.add(rel)
    check(os.path.isdir(p), "folder %s" % rel)
    if os.path.isdir(p) and "mtime" in d:
        check(local_time(os.stat(p).st_mtime_ns) == d["mtime"], "mtime of folder %s" % rel)
for rel in case.get("absent", []):
    check(not os.path.exists(os.path.join(dest, rel)), "absent %s" % rel)
if expected.get("exact_tree"):
    for root, dirs, files in os.walk(dest):
        for n in dirs + files:
            rel = os.path.relpath(os.path.join(root, n), dest).replace(os.sep, "/")
            check(rel in seen, "nothing else: %s" % rel)

sys.exit(1 if failures else 0)
