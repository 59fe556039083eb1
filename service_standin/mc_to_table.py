#!/usr/bin/env python3
"""Turns a message-compiler source (.mc) into a C++ MessageTableEntry table.

Usage: mc_to_table.py INPUT.mc OUTPUT.cpp TABLE_NAME [--customer-bit]

Each message's code is severity << 30 | customer bit << 29 | facility << 16
| MessageId, and its text is stored as the message compiler stores it: every
line of the message ended by "\\r\\n".  Only what the stand-in's table uses
is understood: the header keywords, MessageId (explicit or following on),
Severity, Facility, SymbolicName, Language, the text up to a line holding a
lone ".", and ";" comment lines.
"""
import re
import sys


def parse_names(header_value):
    """(Name=0x3:SYMBOL ...) -> {Name: 3}."""
    names = {}
    for name, value in re.findall(r"(\w+)\s*=\s*(0[xX][0-9a-fA-F]+|\d+)", header_value):
        names[name] = int(value, 0)
    return names


def parse(text):
    lines = text.splitlines()
    severities, facilities = {}, {}
    messages = []
    current = {}
    next_id = 0
    at = 0
    while at < len(lines):
        line = lines[at]
        at += 1
        stripped = line.strip()
        if not stripped or stripped.startswith(";"):
            continue
        key, _, value = stripped.partition("=")
        key = key.strip()
        value = value.strip()
        if key in ("SeverityNames", "FacilityNames", "LanguageNames"):
            while value.count("(") > value.count(")"):
                value += " " + lines[at].strip()
                at += 1
            if key == "SeverityNames":
                severities = parse_names(value)
            elif key == "FacilityNames":
                facilities = parse_names(value)
        elif key == "MessageIdTypedef" or key == "OutputBase":
            pass
        elif key == "MessageId":
            current = {"id": int(value, 0) if value else next_id}
        elif key in ("Severity", "Facility", "SymbolicName"):
            current[key] = value
        elif key == "Language":
            body = []
            while lines[at] != ".":
                body.append(lines[at])
                at += 1
            at += 1
            current["text"] = "".join(part + "\r\n" for part in body)
            messages.append(current)
            next_id = current["id"] + 1
            current = {"id": next_id, "Severity": current.get("Severity"),
                       "Facility": current.get("Facility")}
        else:
            raise SystemExit("unknown keyword: " + line)
    return severities, facilities, messages


def c_string(text):
    out = []
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch in "\"\\":
            out.append("\\" + ch)
        elif 0x20 <= byte < 0x7F:
            out.append(ch)
        else:
            out.append("\\%03o" % byte)
    return '"' + "".join(out) + '"'


def main():
    source, output, table = sys.argv[1:4]
    customer = "--customer-bit" in sys.argv[4:]
    with open(source, encoding="utf-8") as handle:
        severities, facilities, messages = parse(handle.read())
    rows = []
    for message in messages:
        code = (severities[message["Severity"]] << 30) | (int(customer) << 29) \
            | (facilities[message["Facility"]] << 16) | message["id"]
        rows.append("    {0x%08Xu, %s},  // %s" % (code, c_string(message["text"]),
                                                  message.get("SymbolicName", "")))
    with open(output, "w", encoding="utf-8") as handle:
        handle.write("// Made from %s by mc_to_table.py; do not edit.\n" % source.split("/")[-1])
        handle.write('#include "common/message_lookup.h"\n\n')
        handle.write("extern const MessageTableEntry %s[] = {\n" % table)
        handle.write("\n".join(rows) + "\n};\n")
        handle.write("extern const size_t %sCount = sizeof %s / sizeof %s[0];\n"
                     % (table, table, table))


if __name__ == "__main__":
    main()
