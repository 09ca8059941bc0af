#!/usr/bin/env python3
"""The example site behind a real web server, set up as a Debian administrator
sets it up: the program in a CGI directory, run as www-data, its mails to a
(private) Postfix, its data file in a directory www-data owns.

Usage: webserver_test.py SERVER PATH-TO-veltrano2.exe STATE-DIR
SERVER: apache-cgid (mpm_event), apache-cgi (mpm_prefork) or nginx (fcgiwrap).

veltrano-check, built beside the program, must find no error in the site.
Each request of the table must give a complete page well before mod_cgid's 5 s stall,
while a slow submission (its command takes a few seconds, as a slow mail
server would) holds one CGI program all along; the answers that are no
page (a preflight, a redirect, JSON) keep their status and headers through
the server; afterwards exactly the two mails of each accepted submission (one URL-encoded,
one multipart/form-data in UTF-8 with a file) are in the mailbox, read as a
mail reader shows them, and their lines in the data file, and the server's
logs hold nothing but the program's own standard error lines (no reset,
broken pipe or time-out), each starting with its time, the visitor's
address, the template and the process id.
"""

import os
import pwd
import re
import shutil
import subprocess
import sys
import threading
import time
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


class Multipart:
    """A multipart/form-data body as a browser sends it (UTF-8 text)."""
    BOUNDARY = "----VeltranoFormBoundary7MA4YWxkTrZu0gW"

    def __init__(self, fields, files=()):
        parts = ['--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
                 % (self.BOUNDARY, name, value) for name, value in fields]
        parts += ['--%s\r\nContent-Disposition: form-data; name="%s"; filename="%s"\r\n'
                  'Content-Type: application/octet-stream\r\n\r\n%s\r\n'
                  % (self.BOUNDARY, name, filename, content) for name, filename, content in files]
        self.data = ("".join(parts) + "--%s--\r\n" % self.BOUNDARY).encode("utf-8")
        self.content_type = "multipart/form-data; boundary=" + self.BOUNDARY


ZOE = "Zo\u00eb \u00dcnal"
LONG_LINE = " ".join(["Gr\u00fc\u00dfe"] * 400)  # one line of 2,399 characters
MULTIPART = Multipart(
    [("name", ZOE), ("email", "root@localhost.localdomain"),
     ("message", "Hello.\r\n.\r\n" + LONG_LINE), ("to", "root@localhost")],
    [("attachment", "notes.txt", "not mailed")])

# (case, method, program, template, body, HTTP status, texts the page holds,
# text it ends with). A fault the administrator must fix is a 500; what the
# visitor sent gets its page with 200. Once the template is read, failures
# show the site's failure page (failure.htm).
CASES = [
    ("accepted submission", "POST", "veltrano2.exe", "contact.tpl", ACCEPTED, 200,
     ["<TITLE>Thank you</TITLE>", "<H1>Thank you, Ann Example</H1>"], "</HTML>"),
    ("multipart UTF-8", "POST", "veltrano2.exe", "contact.tpl", MULTIPART, 200,
     ["<TITLE>Thank you</TITLE>", "<H1>Thank you, %s</H1>" % ZOE], "</HTML>"),
    ("failing checks", "POST", "veltrano2.exe", "contact.tpl", REFUSED, 200,
     ["<li>Please tell us your name.", "<li>That e-mail address is not valid."], "</HTML>"),
    ("misspelt template", "POST", "veltrano2.exe", "contcat.tpl", ACCEPTED, 500,
     ["<TITLE>Error loading template file</TITLE>"], "contact your system administrator"),
    ("renamed program", "POST", "veltrano.exe", "contact.tpl", ACCEPTED, 500,
     ["<TITLE>Critical error</TITLE>"], "the type of web server you are running."),
    ("body over 1 MiB", "POST", "veltrano2.exe", "contact.tpl", OVER_1_MIB, 200,
     ["<H1>Your message could not be sent</H1>", "<P>Form Submit Error.</P>"], "</HTML>"),
    ("GET request", "GET", "veltrano2.exe", "contact.tpl", None, 200,
     ["<H1>Your message could not be sent</H1>", "<P>Form Submit Error.</P>"], "</HTML>"),
]
# Far below the 5 s that mod_cgid stalls for when a body is left unread (the
# fault this bound catches), and above what a busy machine adds to a
# submission that goes through Postfix.
MAX_SECONDS = 2.5
SLOW_SECONDS = 4
# A template whose command takes SLOW_SECONDS; it says when it has started.
SLOW_TEMPLATE = """<ERRMSGFILE>error.htm</ERRMSGFILE>
<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>
<EXECUTE>touch %s; sleep %d</EXECUTE>
<FORMDATA>
<NAME="name">
</FORMDATA>
"""

# The accepted submissions' mails: (X-Original-To, Subject, text in the body,
# Reply-To, Auto-Submitted). The main mail's Reply-To is the visitor; the
# response to the visitor is marked as an automatic reply, and is the same
# for every submission: it quotes nothing the visitor wrote.
VISITOR = "root@localhost.localdomain"
CONFIRMATION = (VISITOR, "Thank you for your message",
                "Thank you for your message. We will answer you soon.\n", None, "auto-replied")
MAILS = [
    ("root@localhost", "Contact form: message from Ann Example",
     "Name: Ann Example\nE-mail: %s\n\nHello there.\n.\nBye\n" % VISITOR, VISITOR, None),
    CONFIRMATION,
    ("root@localhost", "Contact form: message from " + ZOE,
     "Name: %s\nE-mail: %s\n\nHello.\n.\n%s\n" % (ZOE, VISITOR, LONG_LINE), VISITOR, None),
    CONFIRMATION,
]
# The program writes its files with CR LF line ends.
DATA_LINE = r'\d\d/\d\d/\d\d \d\d:\d\d:\d\d,"%s","root@localhost\.localdomain"\r\n'
DATA_LINES = re.compile(DATA_LINE % "Ann Example" + DATA_LINE % ZOE)


def check_site(program, site):
    """veltrano-check (built beside the program) on the deployed site, as root
    checking for www-data and greeting the private Postfix: no error."""
    check = os.path.join(os.path.dirname(program), "veltrano-check")
    run = subprocess.run([check, "--site", os.path.join(site, "cgi-bin"), "contact.tpl"],
                         capture_output=True, text=True, timeout=120)
    print(run.stdout, end="")
    if run.returncode != 0:
        return ["veltrano-check exit status %d: %s" % (run.returncode,
                                                       (run.stdout + run.stderr).strip())]
    return []


def check_page(server, case, method, program, template, body, want_status, texts, ending):
    content_type = FORM if body else None
    if isinstance(body, Multipart):
        content_type, body = body.content_type, body.data
    try:
        status, resp, page, seconds = server.request(
            method, "/cgi-bin/%s?%s" % (program, template), body, content_type)
    except OSError as e:  # a reset, a refused or cut connection
        return ["%s: %s" % (case, e)]
    print("%-20s %s %.3f s" % (case, status, seconds))
    problems = []
    if status != want_status or not resp.getheader("Content-Type", "").startswith("text/html"):
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
        "%d mails arrived, want %d (the accepted submissions' only): %s"
        % (len(mails), len(MAILS), [(m["X-Original-To"], m["Subject"]) for m in mails])]
    for mail in dict.fromkeys(MAILS):  # each kind of mail once
        to, subject, text, reply_to, auto = mail
        want = MAILS.count(mail)
        got = [m for m in mails if m["X-Original-To"] == to and m["Subject"] == subject]
        if len(got) != want:
            problems.append("%d mails to %s with Subject %r, want %d"
                            % (len(got), to, subject, want))
            continue
        for m in got:
            body = m.get_content().replace("\r\n", "\n")
            longest = max(len(line.rstrip(b"\r")) for line in m.raw.split(b"\n"))
            if text not in body or m["Reply-To"] != reply_to or \
                    m["Auto-Submitted"] != auto or longest > 998:
                problems.append("mail to %s, %r: Reply-To %r, Auto-Submitted %r, longest line "
                                "%d, body %r" % (to, subject, m["Reply-To"], m["Auto-Submitted"],
                                                 longest, body[:300]))
    return problems


def check_data_file(site):
    path = os.path.join(site, "data", "contact.csv")
    if not os.path.exists(path):
        return ["no data file " + path]
    owner = pwd.getpwuid(os.stat(path).st_uid).pw_name
    with open(path, newline="", encoding="utf-8") as f:
        text = f.read()
    problems = [] if owner == harness.CGI_USER else ["data file owned by " + owner]
    if not DATA_LINES.fullmatch(text):
        problems.append("data file holds %r, want two lines like %s" % (text, DATA_LINES.pattern))
    return problems


def check_failure_line(server):
    """The misspelt template's line names its time, the visitor's address,
    the template and the process, as the server wrote it."""
    line = re.compile(harness.PROGRAM_START.replace(r"\S+ \S+", r"127\.0\.0\.1 contcat\.tpl")
                      + "cannot read the template: contcat.tpl")
    if any(line.search(text) for text in server.log_lines()):
        return []
    return ["no log line like %r among %r" % (line.pattern, server.log_lines())]


def start_slow(server, site):
    """Starts the slow submission in the background, once its command runs;
    answers a function that waits for it and returns its problems."""
    started = os.path.join(site, "data", "slow.started")
    harness.write(os.path.join(site, "cgi-bin", "slow.tpl"),
                  SLOW_TEMPLATE % (started, SLOW_SECONDS))
    result = []

    def request():
        try:
            result.append(server.request("POST", "/cgi-bin/veltrano2.exe?slow.tpl", "name=Slow",
                                         FORM))
        except OSError as e:
            result.append(e)
    thread = threading.Thread(target=request)
    thread.start()
    deadline = time.monotonic() + 10
    while not os.path.exists(started) and time.monotonic() < deadline and thread.is_alive():
        time.sleep(0.05)

    def finish():
        thread.join()
        got = result[0] if result else "no answer"
        if isinstance(got, tuple) and got[0] == 200 and "<TITLE>Thank you</TITLE>" in got[2]:
            print("%-20s %s %.3f s" % ("slow submission", got[0], got[3]))
            return []
        return ["slow submission: %r" % (got if not isinstance(got, tuple) else got[2][-300:],)]
    return finish


# The answers that are no page (a preflight, a redirect, JSON), as each
# server passes them on: (case, method, body, request headers, status,
# response headers wanted). The robot's submission (the honeypot filled in)
# sends nothing.
PAGE_ORIGIN = "http://127.0.0.1:1"
ROBOT = urllib.parse.urlencode({"name": "Robot", "email": "r@localhost.localdomain", "website": "x"})
ANSWERS = [
    ("preflight", "OPTIONS", None, {"Origin": PAGE_ORIGIN}, 204,
     {"Access-Control-Allow-Origin": PAGE_ORIGIN, "Access-Control-Allow-Methods": "POST"}),
    ("redirect", "POST", ROBOT, {"Origin": PAGE_ORIGIN}, 303,
     {"Location": PAGE_ORIGIN + "/thanks.html", "Access-Control-Allow-Origin": PAGE_ORIGIN}),
    ("JSON", "GET", None, {"Accept": "application/json"}, 405,
     {"Allow": "POST", "Content-Type": "application/json; charset=utf-8"}),
]


def check_answers(server, site, smtp):
    harness.cross_origin_site(site, smtp, PAGE_ORIGIN, harness.origin(server.port))
    problems = []
    for case, method, body, headers, want_status, want in ANSWERS:
        status, resp, text, seconds = server.request(
            method, "/cgi-bin/veltrano2.exe?fetch.tpl", body, FORM if body else None, headers)
        print("%-20s %s %.3f s" % (case, status, seconds))
        have = {name: resp.getheader(name) for name in want}
        if status != want_status or have != want or (status == 204 and text):
            problems.append("%s: %d %r %r" % (case, status, dict(resp.getheaders()), text[:200]))
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
              % (server.name, server.port, postfix.smtp, stack.state))
        problems = check_site(program, site)
        finish_slow = start_slow(server, site)
        for case in CASES:
            problems += check_page(server, *case)
        problems += finish_slow()
        problems += check_answers(server, site, postfix.smtp)
        problems += check_mails(postfix)
        problems += check_data_file(site)
        server.stop()  # the log is complete once the server is gone
        problems += ["log: " + line for line in server.unexpected_log_lines()]
        problems += check_failure_line(server)
    if problems:
        raise Failure("%s:\n  %s" % (server.name, "\n  ".join(problems)))
    print("%s: %d requests answered in time, %d mails, 2 data lines, clean logs"
          % (server.name, len(CASES), len(MAILS)))


if __name__ == "__main__":
    KINDS = {"apache-cgid": ["apache2"], "apache-cgi": ["apache2"],
             "nginx": ["nginx", "fcgiwrap"]}
    if len(sys.argv) != 4 or sys.argv[1] not in KINDS:
        sys.exit("usage: webserver_test.py apache-cgid|apache-cgi|nginx "
                 "PATH-TO-veltrano2.exe STATE-DIR")
    harness.run_test(main, KINDS[sys.argv[1]] + ["postconf"])
