#!/usr/bin/env python3
"""A person's view: Debian's headless Chromium opens examples/contact.html
through a private Apache (mod_cgid, the CGI run as www-data), fills the form
in and sends it; the rendered page and the mails that reach the private
Postfix's mailbox are checked for each case of the table. A screenshot of the
filled form and of the answer page of each case stays in STATE-DIR/screenshots.

Usage: browser_test.py PATH-TO-veltrano2.exe STATE-DIR
"""

import email.header
import json
import os
import subprocess
import sys

import harness
from harness import Failure

HERE = os.path.dirname(os.path.abspath(__file__))
PLAYWRIGHT = os.path.join(HERE, "node_modules", "playwright-core", "package.json")
RECIPIENT = "root@localhost"  # the hidden field "to" of the form
VISITOR = "root@localhost.localdomain"

# (case, fields typed in, texts the rendered page shows,
#  mails it sends as (X-Original-To, Subject, text in the body))
CASES = [
    ("thank-you",
     {"name": "Ann Example", "email": VISITOR, "message": "Hello from Chromium.\nSecond line."},
     ["Thank you, Ann Example", "Your message has been received."],
     [(RECIPIENT, "Contact form: message from Ann Example",
       "Name: Ann Example\nE-mail: %s\n\nHello from Chromium.\nSecond line.\n" % VISITOR),
      (VISITOR, "Thank you, Ann Example", "Thank you for your message. We will answer you soon.\n")]),
    ("name-left-empty",
     {"name": "", "email": VISITOR, "message": "Hello"},
     ["Some fields need your attention", "Please tell us your name."],
     []),
]
MAX_SECONDS = 1.0


def decoded(msg):
    """(Subject, body) of a mail as a reader sees them, whatever its encoding."""
    subject = str(email.header.make_header(email.header.decode_header(msg["Subject"] or "")))
    body = msg.get_payload(decode=True).decode(msg.get_content_charset() or "ascii")
    return subject, body.replace("\r\n", "\n")


def run_browser(stack, url, shots):
    job = {"url": url, "profile": stack.dir("chromium-profile"), "cases": [
        {"name": name, "fields": fields,
         "form_png": os.path.join(shots, name + "-form.png"),
         "page_png": os.path.join(shots, name + "-page.png")}
        for name, fields, _, _ in CASES]}
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
        server = harness.apache(stack, site, "cgid")
        shots = stack.dir("screenshots")
        results = run_browser(stack, "http://127.0.0.1:%d/contact.html" % server.port, shots)

        problems, seen = [], 0
        for name, _, texts, mails in CASES:
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
            # The mails of this case are those that arrived after the earlier cases'.
            arrived = postfix.settled_mails(seen + len(mails))[seen:]
            seen += len(arrived)
            want = sorted(mails)
            have = sorted((m["X-Original-To"], *decoded(m)) for m in arrived)
            if [(to, subject) for to, subject, _ in have] != [(to, s) for to, s, _ in want]:
                problems.append("%s: mails %s, want %s" % (name, [h[:2] for h in have],
                                                           [w[:2] for w in want]))
            else:
                problems += ["%s: mail to %s has no %r: %r" % (name, h[0], w[2], h[2])
                             for h, w in zip(have, want) if w[2] not in h[2]]
        server.stop()
        problems += ["log: " + line for line in server.unexpected_log_lines()]
    if problems:
        raise Failure("\n  ".join(["browser:"] + problems))
    print("browser: %d cases rendered and mailed as expected" % len(CASES))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: browser_test.py PATH-TO-veltrano2.exe STATE-DIR")
    harness.run_test(main, ["apache2", "chromium", "node", "postconf"], files=[PLAYWRIGHT])
