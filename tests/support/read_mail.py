#!/usr/bin/python3
"""Reads the mails of an SMTP conversation with Python's own mail parser
(the email package, default policy), for tests/support/python_mail.hpp.

Usage: read_mail.py FILE
FILE holds what a client sent to the server: commands, and after each DATA
the mail up to its "." line. Each mail is dot-unstuffed as a server does and
parsed; the output holds one block per mail, one "key value" line each:
  mail
  longest N             longest line of the mail as sent, without CR LF
  seven-bit 0|1         whether every byte of it is below 0x80
  defects N             what the parser found wrong, in the mail and its headers
  header NAME VALUE     each header in order, VALUE decoded (hex of its UTF-8)
  charset NAME          the body's charset parameter ("-" without one)
  body BYTES            the body with its transfer encoding undone (hex;
                        empty for a multipart mail)
  part TYPE NAME BYTES  for a multipart mail, each part that holds no
                        parts, in order: its content type, its file name
                        as get_filename() decodes it ("-" without one),
                        its body with its transfer encoding undone (hex)
"""

import email
import email.policy
import sys


def mails(conversation):
    lines = conversation.split(b"\r\n")
    i = 0
    while i < len(lines):
        if lines[i].upper() != b"DATA":
            i += 1
            continue
        i += 1
        text = []
        while i < len(lines) and lines[i] != b".":
            line = lines[i]
            text.append(line[1:] if line.startswith(b".") else line)
            i += 1
        yield b"\r\n".join(text) + b"\r\n"


def header_defects(part):
    return len(part.defects) + sum(len(getattr(v, "defects", ())) for v in part.values())


def main():
    with open(sys.argv[1], "rb") as f:
        conversation = f.read()
    out = []
    for raw in mails(conversation):
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        out.append("mail")
        out.append("longest %d" % max(len(line) for line in raw.split(b"\r\n")))
        out.append("seven-bit %d" % all(b < 0x80 for b in raw))
        for name, value in msg.items():
            out.append("header %s %s" % (name.encode().hex() or "-",
                                         str(value).encode("utf-8", "surrogateescape").hex() or "-"))
        defects = header_defects(msg)
        parts = []
        for part in msg.walk() if msg.is_multipart() else ():
            if part is msg:
                continue
            defects += header_defects(part)
            if part.is_multipart():
                continue
            name = part.get_filename()
            parts.append("part %s %s %s" % (part.get_content_type().encode().hex(),
                                            name.encode("utf-8", "surrogateescape").hex()
                                            if name else "-",
                                            part.get_payload(decode=True).hex() or "-"))
        out.append("defects %d" % defects)
        out.append("charset %s" % (msg.get_content_charset() or "-"))
        out.append("body %s" % ((msg.get_payload(decode=True) or b"").hex() or "-"))
        out += parts
    print("\n".join(out))


if __name__ == "__main__":
    main()
