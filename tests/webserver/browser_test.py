#!/usr/bin/env python3
"""A person's view: Debian's headless Chromium opens examples/contact.html
through a private Apache (mod_cgid, the CGI run as www-data), fills the form
in and sends it; the rendered page and the mails that reach the private
Postfix's mailbox, as a mail reader decodes them, are checked for each case
of the table. One case sends a copy of the form that posts
multipart/form-data with a file. A screenshot of the filled form and of the
answer page of each case stays in STATE-DIR/screenshots.

Usage: browser_test.py PATH-TO-veltrano2.exe STATE-DIR
"""

import json
import os
import re
import subprocess
import sys

import harness
from harness import Failure

HERE = os.path.dirname(os.path.abspath(__file__))
PLAYWRIGHT = os.path.join(HERE, "node_modules", "playwright-core", "package.json")
RECIPIENT = "root@localhost"  # the hidden field "to" of the form
VISITOR = "root@localhost.localdomain"

ZOE = "Zo\u00eb \u00dcnal"
# A textarea paragraph far longer than the 998 octets a mail line may have.
PARAGRAPH = " ".join(["Gr\u00fc\u00dfe aus K\u00f6ln \u2014 viele"] * 200)
MULTIPART_PAGE = "contact-multipart.html"
ATTACHMENT = "notes.txt"  # made in the state directory

# The confirmation to the visitor, the same for every submission: it quotes
# nothing the visitor wrote.
CONFIRMATION = (VISITOR, "Thank you for your message",
                "Thank you for your message. We will answer you soon.\n")

# (case, page, fields filled in, texts the rendered page shows,
#  mails it sends as (X-Original-To, Subject, text in the body))
CASES = [
    ("thank-you", "contact.html",
     {"name": "Ann Example", "email": VISITOR, "message": "Hello from Chromium.\nSecond line."},
     ["Thank you, Ann Example", "Your message has been received."],
     [(RECIPIENT, "Contact form: message from Ann Example",
       "Name: Ann Example\nE-mail: %s\n\nHello from Chromium.\nSecond line.\n" % VISITOR),
      CONFIRMATION]),
    ("name-left-empty", "contact.html",
     {"name": "", "email": VISITOR, "message": "Hello"},
     ["Some fields need your attention", "Please tell us your name."],
     []),
    ("utf-8", "contact.html",
     {"name": ZOE, "email": VISITOR, "message": PARAGRAPH + "\n.\nEnde"},
     ["Thank you, " + ZOE],
     [(RECIPIENT, "Contact form: message from " + ZOE,
       "Name: %s\nE-mail: %s\n\n%s\n.\nEnde\n" % (ZOE, VISITOR, PARAGRAPH)),
      CONFIRMATION]),
    ("multipart", MULTIPART_PAGE,
     {"name": "Ann Multipart", "email": VISITOR, "message": "Sent as\nmultipart/form-data.",
      "attachment": ATTACHMENT},
     ["Thank you, Ann Multipart"],
     [(RECIPIENT, "Contact form: message from Ann Multipart",
       "Name: Ann Multipart\nE-mail: %s\n\nSent as\nmultipart/form-data.\n" % VISITOR),
      CONFIRMATION]),
]
DROPPED_FILE = "uploaded file not mailed, its field has no ATTACH or has a file: field attachment"
MAX_SECONDS = 1.0
MAX_LINE = 998  # octets of a mail line, its CR LF aside


def decoded(msg):
    """(Subject, body) of a mail as a reader sees them, whatever its encoding."""
    return str(msg["Subject"]), msg.get_content().replace("\r\n", "\n")


def longest_line(msg):
    return max(len(line.rstrip(b"\r")) for line in msg.raw.split(b"\n"))


def make_multipart_page(stack, site):
    """A copy of the example form that posts multipart/form-data and has a
    file input; and the file to choose."""
    htdocs = os.path.join(site, "htdocs")
    with open(os.path.join(htdocs, "contact.html"), encoding="utf-8") as f:
        form, n = re.subn(r'<form method="POST"',
                          '<form method="POST" enctype="multipart/form-data"', f.read())
    form, m = re.subn(r'(<p><input type="submit")',
                      r'<p><input type="file" name="attachment"></p>\n\1', form)
    if (n, m) != (1, 1):
        raise Failure("examples/contact.html has no POST form with a submit button")
    harness.write(os.path.join(htdocs, MULTIPART_PAGE), form)
    path = os.path.join(stack.dir("files"), ATTACHMENT)
    harness.write(path, "not mailed\n")
    return path


def run_browser(stack, base, attachment, shots):
    def value(v):
        return attachment if v == ATTACHMENT else v
    job = {"profile": stack.dir("chromium-profile"), "cases": [
        {"name": name, "url": base + page,
         "fields": {k: value(v) for k, v in fields.items()},
         "form_png": os.path.join(shots, name + "-form.png"),
         "page_png": os.path.join(shots, name + "-page.png")}
        for name, page, fields, _, _ in CASES]}
    # Whatever Node.js and Chromium write goes into the state directory.
    home = stack.dir("home")
    env = dict(harness.SERVER_ENV, HOME=home, XDG_CONFIG_HOME=home, XDG_CACHE_HOME=home,
               TMPDIR=stack.dir("tmp"))
    done = subprocess.run(["node", os.path.join(HERE, "browser.mjs")], input=json.dumps(job),
                          capture_output=True, text=True, env=env, timeout=180, cwd=HERE)
    if done.returncode != 0:
        raise Failure("browser.mjs failed:\n" + done.stdout + done.stderr)
    return {r["name"]: r for r in map(json.loads, done.stdout.splitlines())}


def main():
    program, state = sys.argv[1:]
    with harness.Stack(state) as stack:
        postfix = harness.Postfix(stack)
        site = harness.make_site(stack, program, postfix.smtp, recipient=RECIPIENT)
        attachment = make_multipart_page(stack, site)
        server = harness.apache(stack, site, "cgid")
        shots = stack.dir("screenshots")
        results = run_browser(stack, "http://127.0.0.1:%d/" % server.port, attachment, shots)

        problems = []
        # Every case's own mails, told apart by their subjects, and the
        # confirmations together; one more would show too.
        total = sum(len(case[4]) for case in CASES)
        everything = postfix.settled_mails(total)
        if len(everything) != total:
            problems.append("%d mails arrived, want %d" % (len(everything), total))
        for name, _, _, texts, mails in CASES:
            got = results.get(name, {"error": "no result"})
            print("%-16s %s" % (name, {k: v for k, v in got.items() if k != "text"}))
            print("  screenshots: %s-form.png, %s-page.png in %s" % (name, name, shots))
            if "error" in got:
                problems.append("%s: %s" % (name, got["error"]))
                continue
            problems += ["%s: the page does not show %r: %r" % (name, t, got["text"])
                         for t in texts if t not in got["text"]]
            if got["status"] != 200 or got["seconds"] >= MAX_SECONDS:
                problems.append("%s: status %s after %.2f s" % (name, got["status"], got["seconds"]))
            own = [w for w in mails if w != CONFIRMATION]
            arrived = [m for m in everything if str(m["Subject"]) in {s for _, s, _ in own}]
            want = sorted(own)
            have = sorted((m["X-Original-To"], *decoded(m)) for m in arrived)
            problems += ["%s: mail to %s has a line of %d octets" % (name, m["X-Original-To"],
                                                                     longest_line(m))
                         for m in arrived if longest_line(m) > MAX_LINE]
            if [(to, subject) for to, subject, _ in have] != [(to, s) for to, s, _ in want]:
                problems.append("%s: mails %s, want %s" % (name, [h[:2] for h in have],
                                                           [w[:2] for w in want]))
            else:
                problems += ["%s: mail to %s has no %r: %r" % (name, h[0], w[2], h[2])
                             for h, w in zip(have, want) if w[2] not in h[2]]
        confirmations = [m for m in everything
                         if (m["X-Original-To"], decoded(m)[0]) == CONFIRMATION[:2]]
        wanted = sum(CONFIRMATION in case[4] for case in CASES)
        if len(confirmations) != wanted:
            problems.append("%d confirmations, want %d" % (len(confirmations), wanted))
        problems += ["confirmation has no %r: %r" % (CONFIRMATION[2], decoded(m)[1])
                     for m in confirmations if CONFIRMATION[2] not in decoded(m)[1]]
        server.stop()
        problems += ["log: " + line for line in server.unexpected_log_lines()]
        if not any(DROPPED_FILE in line for line in server.log_lines()):
            problems.append("log: no line says %r" % DROPPED_FILE)
    if problems:
        raise Failure("\n  ".join(["browser:"] + problems))
    print("browser: %d cases rendered and mailed as expected" % len(CASES))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: browser_test.py PATH-TO-veltrano2.exe STATE-DIR")
    harness.run_test(main, ["apache2", "chromium", "node", "postconf"], files=[PLAYWRIGHT])
