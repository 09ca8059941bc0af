#!/usr/bin/env python3
"""Mail through a real MTA: one form submission through veltrano2.exe to a
private Postfix instance (tools/postfix-start.sh, in a temporary directory, on
a free loopback port), then every mail read back from the instance's mailbox
with Python's own mail parser.

Usage: postfix_e2e.py PATH-TO-veltrano2.exe

First, with RECIPIENTS @localhost, sendto values that this Postfix would
relay elsewhere ("x@evil"@localhost, x%evil@localhost) must get the refused
page and leave the queue empty. Then a submission with two sendto fields, an
address file and a response mail: each mail goes to its own
root+TAG@localhost address, so the test can tell that every mail arrived
exactly once. Exits 77 (a skip for CTest) only when
Postfix cannot be started (it needs root), and says so; under CI (CI set)
that fails instead. The instance is stopped and removed at the end.
"""

import email.utils
import mailbox
import os
import secrets
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIP = 77


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_postfix(state):
    """Starts a private instance in `state`; answers (SMTPSERVER, mailbox)."""
    env = dict(os.environ, VELTRANO_POSTFIX_DIR=state,
               VELTRANO_SMTP_LISTEN="127.0.0.1:%d" % free_port())
    started = subprocess.run(
        [os.path.join(ROOT, "tools", "postfix-start.sh")],
        capture_output=True, text=True, env=env)
    if started.returncode != 0:
        reason = started.stderr.strip() or "postfix-start.sh failed"
        # CI installs Postfix, so there a failed start is a failure, not a skip.
        if os.environ.get("CI"):
            fail("Postfix could not be started: " + reason)
        print("SKIPPED: Postfix could not be started, so the real-MTA test did not run: "
              + reason)
        sys.exit(SKIP)
    info = dict(line.split("=", 1) for line in started.stdout.split())
    return info["VELTRANO_SMTP"], os.path.join(info["VELTRANO_MAIL_DIR"], "root")


def stop_postfix(state):
    subprocess.run([os.path.join(ROOT, "tools", "postfix-stop.sh")],
                   env=dict(os.environ, VELTRANO_POSTFIX_DIR=state))
    shutil.rmtree(state, ignore_errors=True)


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


def run_request(program, site, query, body):
    env = {
        "PATH": "/usr/bin:/bin",
        "QUERY_STRING": query,
        "REQUEST_METHOD": "POST",
        "CONTENT_LENGTH": str(len(body)),
        "CONTENT_TYPE": "application/x-www-form-urlencoded",
        "SERVER_SOFTWARE": "Apache/2.4",
    }
    exe = os.path.join(site, "veltrano2.exe")
    done = subprocess.run([exe], input=body.encode(), env=env, cwd="/",
                          capture_output=True, timeout=120)
    return done.stdout.decode("latin-1")


def read_mails(mailbox_path, tag, want, deadline):
    """The messages in the mailbox whose recipient carries `tag`, once at
    least `want` have arrived (or the deadline has passed)."""
    found = []
    while True:
        found = []
        if os.path.exists(mailbox_path):
            box = mailbox.mbox(mailbox_path, create=False)
            try:
                for msg in box:
                    if tag in (msg.get("X-Original-To") or ""):
                        found.append(msg)
            finally:
                box.close()
        if len(found) >= want or time.time() > deadline:
            return found
        time.sleep(0.3)


def main():
    if len(sys.argv) != 2:
        fail("usage: postfix_e2e.py PATH-TO-veltrano2.exe")
    state = tempfile.mkdtemp(prefix="veltrano-postfix-state-")
    os.chmod(state, 0o755)  # Postfix's daemons run as the user postfix
    try:
        smtp_server, mailbox_path = start_postfix(state)
        check_relay_refused(state, smtp_server)
        check_delivery(smtp_server, mailbox_path)
    finally:
        stop_postfix(state)


def make_site(template):
    site = tempfile.mkdtemp(prefix="veltrano-postfix-")
    shutil.copy(sys.argv[1], os.path.join(site, "veltrano2.exe"))
    write(os.path.join(site, "t.tpl"), template)
    write(os.path.join(site, "error.htm"), "Content-type: text/html\n\nerror $err$\n")
    write(os.path.join(site, "success.htm"), "Content-type: text/html\n\nthanks $name$\n")
    return site


def check_relay_refused(state, smtp_server):
    """Addresses at localhost that Postfix routes on to evil.example. The
    instance first relays for the loopback, as Debian's stock Postfix does
    (mynetworks), into a discard transport, so that only Veltrano stands
    between a visitor and the relay and nothing leaves the machine."""
    conf = os.path.join(state, "conf")
    for command in (["postconf", "-c", conf, "-e",
                     "smtpd_relay_restrictions = permit_mynetworks, reject_unauth_destination",
                     "default_transport = discard:relay test",
                     "relay_transport = discard:relay test"],
                    ["postfix", "-c", conf, "reload"]):
        if subprocess.run(command, capture_output=True).returncode != 0:
            fail("cannot let the instance relay: " + " ".join(command))
    site = make_site(
        "<SMTPSERVER>" + smtp_server + "</SMTPSERVER>\n<SENDER>form@localhost</SENDER>\n"
        "<SUBJECT>s</SUBJECT>\n<MSGBODY>b</MSGBODY>\n<RECIPIENTS>@localhost</RECIPIENTS>\n"
        "<ERRMSGFILE>error.htm</ERRMSGFILE>\n<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>\n"
        "<FORMDATA>\n<NAME=\"name\">\n<NAME=\"to\" sendto>\n</FORMDATA>\n")
    try:
        for to in ('"evil@evil.example"@localhost', "evil%evil.example@localhost"):
            page = run_request(sys.argv[1], site, "t.tpl",
                               urllib.parse.urlencode([("name", "Ann"), ("to", to)]))
            if "Recipient not allowed: " not in page:
                fail("%s: not refused: %r" % (to, page))
    finally:
        shutil.rmtree(site, ignore_errors=True)
    # A relayed mail may leave the queue (bounced) at once; its transaction
    # stays in the log ("client=" starts each).
    time.sleep(0.5)
    queue = subprocess.run(["postqueue", "-c", conf, "-p"], capture_output=True, text=True)
    if "Mail queue is empty" not in queue.stdout:
        fail("mail was queued: %s%s" % (queue.stdout, queue.stderr))
    with open(os.path.join(state, "maillog"), errors="replace") as log:
        started = [line for line in log if " client=" in line]
    if started:
        fail("mail was taken for relaying: " + "".join(started))


def check_delivery(smtp_server, mailbox_path):
    tag = secrets.token_hex(6)
    addr = {k: "root+%s-%s@localhost" % (k, tag) for k in ("to1", "to2", "list", "resp")}
    site = make_site(
        "<SMTPSERVER>" + smtp_server + "</SMTPSERVER>\n"
        "<SENDER>form@localhost</SENDER>\n"
        "<SUBJECT>Contact $tag$</SUBJECT>\n"
        "<MSGBODY>Message from $name$:\n$message$\n</MSGBODY>\n"
        "<MAILHDR>X-Form: contact</MAILHDR>\n"
        "<RSUBJECT>Thank you $name$</RSUBJECT>\n"
        "<RMSGBODY>We received:\n$message$</RMSGBODY>\n"
        "<ADRFILE>list.txt</ADRFILE>\n"
        "<ERRMSGFILE>error.htm</ERRMSGFILE>\n"
        "<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>\n"
        "<FORMDATA>\n"
        "<NAME=\"name\">\n<NAME=\"tag\">\n<NAME=\"message\">\n"
        "<NAME=\"to1\" sendto>\n<NAME=\"to2\" sendto>\n<NAME=\"email\" respondto>\n"
        "</FORMDATA>\n")
    try:
        write(os.path.join(site, "list.txt"), "\n" + addr["list"] + "\n\n")

        # A message with a lone "." line and a ".x" line, CR LF as a browser sends.
        body = urllib.parse.urlencode([
            ("name", "Ann"), ("tag", tag), ("message", "first line\r\n.\r\n.x\r\nlast line"),
            ("to1", addr["to1"]), ("to2", addr["to2"]), ("email", addr["resp"])])
        page = run_request(sys.argv[1], site, "t.tpl", body)
        if page != "Content-type: text/html\r\n\r\nthanks Ann\r\n":
            fail("unexpected response page: %r" % page)
    finally:
        shutil.rmtree(site, ignore_errors=True)

    mails = read_mails(mailbox_path, tag, 4, time.time() + 30)
    time.sleep(1)  # a duplicate would arrive right after the others
    mails = read_mails(mailbox_path, tag, 4, time.time())

    # MSGBODY ends with its own line end; the mail's framing adds an empty line.
    main_body = "Message from Ann:\nfirst line\n.\n.x\nlast line\n\n\n"
    want = {
        "to1": ("Contact " + tag, main_body, addr["to1"]),
        "to2": ("Contact " + tag, main_body, addr["to2"]),
        "list": ("Contact " + tag, main_body, ""),
        "resp": ("Thank you Ann", "We received:\nfirst line\n.\n.x\nlast line\n\n", addr["resp"]),
    }
    problems = []
    for key, (subject, text, to) in want.items():
        got = [m for m in mails if m.get("X-Original-To") == addr[key]]
        if len(got) != 1:
            problems.append("%s: %d mails arrived, want 1" % (key, len(got)))
            continue
        msg = got[0]
        checks = [
            ("From", msg.get("From"), "form@localhost"),
            ("Subject", msg.get("Subject"), subject),
            ("To", (msg.get("To") or "").strip(), to),
            ("X-Mailer", msg.get("X-Mailer"), "2.1"),
            ("body", msg.get_payload(), text),
        ]
        if key != "resp":
            checks.append(("X-Form", msg.get("X-Form"), "contact"))
        for name, value, expected in checks:
            if value != expected:
                problems.append("%s %s: got %r, want %r" % (key, name, value, expected))
        if (msg.get("bcc") or "").strip():
            problems.append("%s: bcc header lists %r" % (key, msg.get("bcc")))
        if not msg.get("Message-ID", "").startswith("<"):
            problems.append("%s: no Message-ID" % key)
        try:
            email.utils.parsedate_to_datetime(msg.get("Date"))
        except (TypeError, ValueError):
            problems.append("%s: Date %r does not parse" % (key, msg.get("Date")))
    if problems:
        fail("; ".join(problems))
    print("postfix_e2e: relaying addresses refused, nothing queued; all 4 mails delivered once "
          "each, headers and bodies as sent")


if __name__ == "__main__":
    main()
