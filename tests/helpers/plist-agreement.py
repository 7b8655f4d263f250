#!/usr/bin/env python3
"""Holds the bundle check's property-list reader against Python's plistlib.

  plist-agreement.py PLIST_DUMP [--count N] [--seed S]

Makes N random values (nested dictionaries and arrays; strings with
escapes, non-BMP characters and control characters; integers from -2**63
to 2**64-1; reals with infinities and NaN; dates; data; booleans), writes
each with plistlib as XML and as binary, and has both plistlib and
PLIST_DUMP read every file. XML files are also rewritten in ways plistlib
never writes but XML allows (comments, processing instructions, character
references, CDATA, CR-LF line ends), and some files are cut short. Every
file must be read the same by both, or refused by both. Prints the counts;
exits 1 on any disagreement.
"""

import argparse
import datetime
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import plistlib

EPOCH = datetime.datetime(2001, 1, 1)


def canonical(value):
    """The value as plist_dump prints it."""
    if isinstance(value, bool):
        return ["bool", value]
    if isinstance(value, int):
        return ["integer", str(value)]
    if isinstance(value, float):
        return ["real", "nan" if value != value else
                struct.pack(">d", value).hex()]
    if isinstance(value, str):
        return ["string", value]
    if isinstance(value, bytes):
        return ["data", value.hex()]
    if isinstance(value, datetime.datetime):
        return ["date", "%04d-%02d-%02dT%02d:%02d:%02dZ" % (
            value.year, value.month, value.day, value.hour, value.minute,
            value.second)]
    if isinstance(value, list):
        return ["array", [canonical(v) for v in value]]
    if isinstance(value, dict):
        return ["dict", [[k, canonical(v)] for k, v in value.items()]]
    raise TypeError(type(value))


def random_string(rng):
    pools = ["abcxyz", "&<>\"'", " \t\n\r", "]]>", "éß€", "\u4e2d\u6587",
             "\U0001f600\U00010348", "\x01\x1f\x7f", "=;/\\"]
    return "".join(rng.choice(rng.choice(pools))
                   for _ in range(rng.choice([0, 1, 3, 8, 20])))


def random_value(rng, depth):
    kind = rng.randrange(12 if depth < 5 else 9)
    if kind == 0:
        return random_string(rng)
    if kind == 1:
        return rng.choice([0, 1, -1, 255, 256, 65535, 65536, 2**31, 2**32,
                           2**63 - 1, -2**63, 2**63, 2**64 - 1,
                           rng.randrange(-2**63, 2**64)])
    if kind == 2:
        return rng.choice([0.0, -0.0, 1.5, 1e300, -1e-300, float("inf"),
                           float("-inf"), float("nan"),
                           struct.unpack(">d", rng.randbytes(8))[0]])
    if kind == 3:
        return rng.random() < 0.5
    if kind == 4:
        return EPOCH + datetime.timedelta(
            seconds=rng.randrange(-63113904000, 252423993600))
    if kind == 5:
        return rng.randbytes(rng.choice([0, 1, 2, 3, 57]))
    if kind == 6:
        return rng.randrange(100)
    if kind == 7:
        return random_string(rng)
    if kind == 8:
        return rng.choice(["APPL", "com.example.app", ""])
    if kind in (9, 10):
        return {random_string(rng): random_value(rng, depth + 1)
                for _ in range(rng.randrange(6))}
    return [random_value(rng, depth + 1) for _ in range(rng.randrange(6))]


def rewritten(xml, rng):
    """The same document in forms plistlib does not write."""
    text = xml.decode("utf-8")
    # Every '>' plistlib writes ends markup; comments and instructions may
    # follow any of them.
    parts = text.split(">")
    for i in range(len(parts) - 1):
        r = rng.random()
        if r < 0.1:
            parts[i + 1] = "<!-- c -->" + parts[i + 1]
        elif r < 0.15:
            parts[i + 1] = "<?pi some data?>" + parts[i + 1]
    text = ">".join(parts)

    # Character references stand only in text: blanks between elements
    # are markup's, and a reference there would be text.
    def references(match):
        out = [match.group(1)]
        for piece in re.split(r"(&[a-z]+;)", match.group(2)):
            if piece.startswith("&"):
                out.append(piece)
                continue
            for c in piece:
                r = rng.random()
                if r < 0.15:
                    out.append("&#%d;" % ord(c))
                elif r < 0.3:
                    out.append("&#x%X;" % ord(c))
                else:
                    out.append(c)
        return "".join(out)

    def cdata(match):
        body = match.group(2)
        raw = (body.replace("&lt;", "<").replace("&gt;", ">")
               .replace("&amp;", "&"))
        if "]]>" in raw or rng.random() < 0.5:
            return match.group(0)
        return match.group(1) + "<![CDATA[" + raw + "]]>" + match.group(3)

    text = re.sub(r"(<string>)([^<]*)(</string>)", cdata, text)
    text = re.sub(r"(<(?:string|key|integer|real|date|data)>)([^<]*)",
                  references, text)
    if rng.random() < 0.3:
        text = text.replace("\n", "\r\n")
    return text.encode("utf-8")


def plistlib_reading(data, fmt):
    try:
        return {"value": canonical(plistlib.loads(data, fmt=fmt))}
    except Exception as error:  # any refusal counts as one
        return {"error": str(error)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dump")
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=23)
    args = parser.parse_args()
    rng = random.Random(args.seed)

    cases = []  # (what, bytes, plistlib format)
    for _ in range(args.count):
        value = random_value(rng, 0)
        if rng.random() < 0.7:
            value = {random_string(rng): value, "CFBundleExecutable": "App"}
        cases.append(("binary", plistlib.dumps(value, fmt=plistlib.FMT_BINARY),
                      plistlib.FMT_BINARY))
        try:
            xml = plistlib.dumps(value, fmt=plistlib.FMT_XML)
        except ValueError:
            continue  # control characters, which XML cannot hold
        cases.append(("xml", xml, plistlib.FMT_XML))
        cases.append(("rewritten xml", rewritten(xml, rng), plistlib.FMT_XML))
        if rng.random() < 0.2:
            cut = rng.randrange(len(xml))
            cases.append(("cut xml", xml[:cut], plistlib.FMT_XML))
            binary = cases[-4][1]
            cases.append(("cut binary", binary[:rng.randrange(len(binary))],
                          plistlib.FMT_BINARY))

    counts = {}
    disagreements = []
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for i, (_, data, _) in enumerate(cases):
            paths.append(os.path.join(tmp, "%d.plist" % i))
            with open(paths[-1], "wb") as f:
                f.write(data)
        lines = []
        for start in range(0, len(paths), 500):
            run = subprocess.run([args.dump] + paths[start:start + 500],
                                 capture_output=True, check=True)
            lines += run.stdout.decode("utf-8").splitlines()
    import json
    for (what, data, fmt), line in zip(cases, lines):
        ours = json.loads(line)
        theirs = plistlib_reading(data, fmt)
        agree = ours.get("value") == theirs.get("value")
        total, good = counts.get(what, (0, 0))
        counts[what] = (total + 1, good + agree)
        if not agree:
            disagreements.append((what, data[:600], ours, theirs))

    for what, data, ours, theirs in disagreements[:5]:
        print("DISAGREE (%s): %r\n  ours:     %.300s\n  plistlib: %.300s"
              % (what, data, ours, theirs))
    agreed = sum(good for _, good in counts.values())
    detail = ", ".join("%s %d/%d" % (what, good, total)
                       for what, (total, good) in sorted(counts.items()))
    print("plistlib agreement: %d of %d files (%s)" % (agreed, len(cases),
                                                       detail))
    return 0 if agreed == len(cases) and len(lines) == len(cases) else 1


if __name__ == "__main__":
    sys.exit(main())
