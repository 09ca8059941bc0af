#!/usr/bin/env python3
"""The example site behind a real web server, set up as a Debian administrator
sets it up: the program in a CGI directory, run as www-data, its mails to a
(private) Postfix, its data file in a directory www-data owns.

Usage: webserver_test.py SERVER PATH-TO-veltrano2.exe STATE-DIR
SERVER: apache-cgid (mpm_event), apache-cgi (mpm_prefork) or nginx (fcgiwrap).

Each request of the table must give a complete page in well under a second;
afterwards exactly the accepted submission's two mails are in the mailbox and
its line in the data file, and the server's logs hold nothing but the
program's own standard error lines (no reset, broken pipe or time-out).
"""

import os
import pwd
import re
import shutil
import sys
import urllib.parse

import harness
from harness import Failure

FORM = "application/x-www-form-urlencoded"
ACCEPTED = urllib.parse.urlencode({
    "name": "Ann Example", "email": "root@localhost.localdomain",
    "message": "Hello there.\r\n.\r\nBye", "to": "root@localhost"})
REFUSED = urllib.parse.urlencode({
    "name": "", "email": "not-an-address", "message": "Hi", "to": "root@localhost"})
OVER_1_MIB = "message=" + "a" * (1 << 20)

# (case, method, program, template, body, texts the page holds, text it ends with)
CASES = [
    ("accepted submission", "POST", "veltrano2.exe", "contact.tpl", ACCEPTED,
     ["<TITLE>Thank you</TITLE>", "<H1>Thank you, Ann Example</H1>"], "</HTML>"),
    ("failing checks", "POST", "veltrano2.exe", "contact.tpl", REFUSED,
     ["<li>Please tell us your name.", "<li>That e-mail address is not valid."], "</HTML>"),
    ("misspelt template", "POST", "veltrano2.exe", "contcat.tpl", ACCEPTED,
     ["<TITLE>Error loading template file</TITLE>"], "contact your system administrator"),
    ("renamed program", "POST", "veltrano.exe", "contact.tpl", ACCEPTED,
     ["<TITLE>Critical error</TITLE>"], "the type of web server you are running."),
    ("body over 1 MiB", "POST", "veltrano2.exe", "contact.tpl", OVER_1_MIB,
     ["<TITLE>Form Submit Error</TITLE>The form data is too large."], "too large."),
    ("GET request", "GET", "veltrano2.exe", "contact.tpl", None,
     ["<TITLE>Form Submit Error</TITLE>You must submit a form with a POST method."],
     "POST method."),
]
MAX_SECONDS = 1.0

# (X-Original-To, Subject, text in the body) of the accepted submission's mails.
MAILS = [
    ("root@localhost", "Contact form: message from Ann Example",
     "Name: Ann Example\nE-mail: root@localhost.localdomain\n\nHello there.\n.\nBye\n"),
    ("root@localhost.localdomain", "Thank you, Ann Example",
     "Thank you for your message. We will answer you soon.\n"),
]
# The program writes its files with CR LF line ends.
DATA_LINE = re.compile(r'\d\d/\d\d/\d\d \d\d:\d\d:\d\d,"Ann Example","root@localhost\.localdomain"\r\n')


def check_page(server, case, method, program, template, body, texts, ending):
    try:
        status, resp, page, seconds = server.request(
            method, "/cgi-bin/%s?%s" % (program, template), body, FORM if body else None)
    except OSError as e:  # a reset, a refused or cut connection
        return ["%s: %s" % (case, e)]
    print("%-20s %s %.3f s" % (case, status, seconds))
    problems = []
    if status != 200 or not resp.getheader("Content-Type", "").startswith("text/html"):
        problems.append("status %d, Content-Type %r" % (status, resp.getheader("Content-Type")))
    problems += ["no %r" % text for text in texts if text not in page]
    if not page.rstrip().endswith(ending):
        problems.append("the page does not end with %r: %r" % (ending, page[-200:]))
    if seconds >= MAX_SECONDS:
        problems.append("took %.2f s" % seconds)
    return ["%s: %s" % (case, p) for p in problems]


def check_mails(postfix):
    mails = postfix.settled_mails(len(MAILS))
    problems = [] if len(mails) == len(MAILS) else [
        "%d mails arrived, want %d (the accepted submission's only): %s"
        % (len(mails), len(MAILS), [(m["X-Original-To"], m["Subject"]) for m in mails])]
    for to, subject, text in MAILS:
        got = [m for m in mails if m["X-Original-To"] == to]
        if len(got) != 1:
            problems.append("%d mails to %s, want 1" % (len(got), to))
        elif got[0]["Subject"] != subject or text not in got[0].get_payload():
            problems.append("mail to %s: Subject %r, body %r" % (to, got[0]["Subject"],
                                                                  got[0].get_payload()))
    return problems


def check_data_file(site):
    path = os.path.join(site, "data", "contact.csv")
    if not os.path.exists(path):
        return ["no data file " + path]
    owner = pwd.getpwuid(os.stat(path).st_uid).pw_name
    with open(path, newline="") as f:
        text = f.read()
    problems = [] if owner == harness.CGI_USER else ["data file owned by " + owner]
    if not DATA_LINE.fullmatch(text):
        problems.append("data file holds %r, want one line like %s" % (text, DATA_LINE.pattern))
    return problems


def main():
    kind, program, state = sys.argv[1:]
    with harness.Stack(state) as stack:
        postfix = harness.Postfix(stack)
        site = harness.make_site(stack, program, postfix.smtp)
        shutil.copy(program, os.path.join(site, "cgi-bin", "veltrano.exe"))
        server = (harness.nginx(stack, site) if kind == "nginx"
                  else harness.apache(stack, site, kind.split("-")[1]))
        print("%s on 127.0.0.1:%d, Postfix on %s, state in %s"
              % (server.name, server.port, postfix.smtp, state))
        problems = []
        for case in CASES:
            problems += check_page(server, *case)
        problems += check_mails(postfix)
        problems += check_data_file(site)
        server.stop()  # the log is complete once the server is gone
        problems += ["log: " + line for line in server.unexpected_log_lines()]
    if problems:
        raise Failure("%s:\n  %s" % (server.name, "\n  ".join(problems)))
    print("%s: %d requests answered in time, 2 mails, 1 data line, clean logs"
          % (server.name, len(CASES)))


if __name__ == "__main__":
    KINDS = {"apache-cgid": ["apache2"], "apache-cgi": ["apache2"],
             "nginx": ["nginx", "fcgiwrap"]}
    if len(sys.argv) != 4 or sys.argv[1] not in KINDS:
        sys.exit("usage: webserver_test.py apache-cgid|apache-cgi|nginx "
                 "PATH-TO-veltrano2.exe STATE-DIR")
    harness.run_test(main, KINDS[sys.argv[1]] + ["postconf"])
