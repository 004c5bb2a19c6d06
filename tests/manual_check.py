#!/usr/bin/python3
"""The manual page names every option of -h and every keyword of the configuration."""
import re, sys

read = lambda path: open(sys.argv[1] + path, encoding="utf-8").read()
manual = read("/doc/strandor.1")
options = sorted(set(re.findall(r"(?<![\w-])-[A-Za-z](?![\w-])|--\w+", read("/tests/data/help.txt"))))
keywords = re.findall(r'^"(\w+)"\s.*\breturn\b', read("/src/config/config_scanner.l"), re.M)
# Options as roff writes them (\-x), keywords as whole words.
missing = [o for o in options if not re.search(r"(?<![\w-])" + re.escape(o.replace("-", "\\-")) + r"(?![\w-])", manual)]
missing += [k for k in keywords if not re.search(r"(?<!\w)%s(?!\w)" % k, manual)]
print("".join("not in the manual page: %s\n" % m for m in missing) + "%d options, %d keywords" % (len(options), len(keywords)))
sys.exit(1 if missing or not options or not keywords else 0)
