#!/usr/bin/env python3
"""Writes each svg:svg page of an XHTML document (stdin) to PREFIX-N.svg (N from 1)."""
import re
import sys

prefix = sys.argv[1]
text = sys.stdin.read()
for n, m in enumerate(re.finditer(r"<svg:svg\b.*?</svg:svg>", text, re.S), 1):
    with open(f"{prefix}-{n}.svg", "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n' + m.group(0))
    print(n)
