#!/usr/bin/env python3
"""check_manpages.py PROGRAM MANDIR: the manual pages say what --help says.

selvo-host(1) holds every line of `selvo-host --help`, and every command
that help lists has its page selvo-host-COMMAND(1) holding every line of
`selvo-host COMMAND --help`; no page is left of a command that is gone."""
import gzip
import os
import re
import subprocess
import sys

program, mandir = sys.argv[1], sys.argv[2]
# As the pages were made: the default database under ~, UTF-8.
env = {k: v for k, v in os.environ.items() if k != "XDG_DATA_HOME"}
env.update(HOME="~", LC_ALL="C.UTF-8")


def help_text(*args):
    return subprocess.run([program, *args, "--help"], env=env, check=True, capture_output=True, text=True).stdout


def words(text):
    return " ".join(text.split())


def description(name):
    """The words of the page's DESCRIPTION, which help2man makes of the usage
    text, without the markup: escapes undone, requests dropped."""
    with gzip.open(os.path.join(mandir, name + ".1.gz"), "rt", encoding="utf-8") as f:
        roff = f.read()
    inside, lines = False, []
    for line in roff.splitlines():
        if line.startswith(".SH"):
            inside = line.strip() == ".SH DESCRIPTION"
        elif inside and not line.startswith(".\\\""):
            # .SS headings keep their words, .TP/.IP/.HP have none.
            lines.append(re.sub(r"^\.[A-Za-z]+\s*", "", line).replace('"', "") if line.startswith(".") else line)
    text = re.sub(r"\\f[BIRP]|\\f\(..|\\[,/&]", "", "\n".join(lines))
    return words(text.replace("\\-", "-").replace("\\e", "\\"))


failures = []


def check(name, text):
    try:
        page = description(name)
    except FileNotFoundError:
        failures.append(f"{name}(1): no page")
        return
    if page != words(text):
        failures.append(f"{name}(1) says:\n  {page}\nbut --help says:\n  {words(text)}")


overview = help_text()
commands = re.findall(r"^  selvo-host (\S+)", overview, re.M)
if not commands:
    failures.append("selvo-host --help lists no commands")
check("selvo-host", overview)
for command in commands:
    check("selvo-host-" + command, help_text(command))
pages = {f[: -len(".1.gz")] for f in os.listdir(mandir) if f.endswith(".1.gz")}
for stale in sorted(pages - {"selvo-host"} - {"selvo-host-" + c for c in commands}):
    failures.append(f"{stale}(1): a page of no command")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
