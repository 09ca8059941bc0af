#!/usr/bin/env python3
"""A person's view: Debian's headless Chromium opens the example forms
through a private Apache (mod_cgid, the CGI run as www-data), fills them in
and sends them; the rendered page and the mails that reach the private
Postfix's mailbox, as a mail reader decodes them, are checked for each case
of the table. One case sends a copy of the contact form that posts
multipart/form-data with a file its template doesn't take. The application
form (examples/apply.html) uploads a PDF and a PNG, which must arrive
attached byte for byte; its encrypted variant (apply-secure.tpl, through
tools/pgp.exe and a keyring of www-data's) must arrive as PGP/MIME that
GnuPG decrypts to the same text and files. A screenshot of the filled form
and of the answer page of each case stays in STATE-DIR/screenshots.

Usage: browser_test.py PATH-TO-veltrano2.exe STATE-DIR
"""

import collections
import email
import email.policy
import os
import re
import shutil
import subprocess
import sys

import harness
from harness import Failure

HERE = os.path.dirname(os.path.abspath(__file__))
PLAYWRIGHT = os.path.join(HERE, "node_modules", "playwright-core", "package.json")
RECIPIENT = "root@localhost"  # the hidden field "to" of the forms, and the key's owner
VISITOR = "root@localhost.localdomain"

ZOE = "Zo\u00eb \u00dcnal"
# A textarea paragraph far longer than the 998 octets a mail line may have.
PARAGRAPH = " ".join(["Gr\u00fc\u00dfe aus K\u00f6ln \u2014 viele"] * 200)
MULTIPART_PAGE = "contact-multipart.html"
SECURE_PAGE = "apply-secure.html"

# Files the browser chooses, made in the state directory: every byte value,
# CR LF and lone dots among them.
FILES = {
    "notes.txt": b"not mailed\n",
    "cv.pdf": b"%PDF-1.4\r\n.\r\n" + bytes(range(256)) * 1200,
    "photo.png": b"\x89PNG\r\n\x1a\n" + bytes(reversed(range(256))) * 300,
    "disguised/cv.pdf": b"\x7fELF\x02\x01\x01" + bytes(5000),
}

# The confirmations to the visitor quote nothing the visitor wrote.
CONFIRMATION = (VISITOR, "Thank you for your message",
                "Thank you for your message. We will answer you soon.\n")
APPLIED = (VISITOR, "Thank you for your application",
           "Thank you for your application. We will be in touch.\n")

APPLICANT = {"name": "Ann Apply", "email": VISITOR, "position": "Engineer",
             "letter": "Dear team,\n.\nplease find my CV attached.", "cv": "cv.pdf",
             "photo": "photo.png"}
APPLICATION_TEXT = ("Name: Ann Apply\nE-mail: %s\nPosition: Engineer\nCV: cv.pdf\n"
                    "Photo: photo.png\n\nDear team,\n.\nplease find my CV attached.\n" % VISITOR)
ATTACHED = [("application/pdf", "cv.pdf", FILES["cv.pdf"]),
            ("image/png", "photo.png", FILES["photo.png"])]

# name, page, fields filled in (a file input's value names one of FILES),
# texts the rendered page shows, the case's own mails as (X-Original-To,
# Subject, text in the body), its confirmation, the files its first mail
# carries as (type, name, bytes), and whether that mail is encrypted.
Case = collections.namedtuple("Case", "name page fields texts mails confirmation files encrypted",
                              defaults=(None, (), False))
CASES = [
    Case("thank-you", "contact.html",
         {"name": "Ann Example", "email": VISITOR, "message": "Hello from Chromium.\nSecond line."},
         ["Thank you, Ann Example", "Your message has been received."],
         [(RECIPIENT, "Contact form: message from Ann Example",
           "Name: Ann Example\nE-mail: %s\n\nHello from Chromium.\nSecond line.\n" % VISITOR)],
         CONFIRMATION),
    Case("name-left-empty", "contact.html",
         {"name": "", "email": VISITOR, "message": "Hello"},
         ["Some fields need your attention", "Please tell us your name."], []),
    Case("utf-8", "contact.html",
         {"name": ZOE, "email": VISITOR, "message": PARAGRAPH + "\n.\nEnde"},
         ["Thank you, " + ZOE],
         [(RECIPIENT, "Contact form: message from " + ZOE,
           "Name: %s\nE-mail: %s\n\n%s\n.\nEnde\n" % (ZOE, VISITOR, PARAGRAPH))],
         CONFIRMATION),
    Case("multipart", MULTIPART_PAGE,
         {"name": "Ann Multipart", "email": VISITOR, "message": "Sent as\nmultipart/form-data.",
          "attachment": "notes.txt"},
         ["Thank you, Ann Multipart"],
         [(RECIPIENT, "Contact form: message from Ann Multipart",
           "Name: Ann Multipart\nE-mail: %s\n\nSent as\nmultipart/form-data.\n" % VISITOR)],
         CONFIRMATION),
    Case("apply", "apply.html", APPLICANT, ["Thank you, Ann Apply"],
         [(RECIPIENT, "Application from Ann Apply: Engineer", APPLICATION_TEXT)], APPLIED,
         ATTACHED),
    Case("apply-disguised-file", "apply.html", dict(APPLICANT, cv="disguised/cv.pdf"),
         ["Some fields need your attention", "Your CV must be a PDF or Word (.docx) file."], []),
    Case("apply-encrypted", SECURE_PAGE, APPLICANT, ["Thank you, Ann Apply"],
         [(RECIPIENT, "Job application", APPLICATION_TEXT)], APPLIED, ATTACHED, True),
]
DROPPED_FILE = "uploaded file not mailed, its field has no ATTACH or has a file: field attachment"
MAX_SECONDS = 1.0
MAX_LINE = 998  # octets of a mail line, its CR LF aside


def gpg(home, *args, **kw):
    return subprocess.run(["gpg", "--batch", "--quiet", "--homedir", home, *args], check=True,
                          capture_output=True, **kw).stdout


def make_keyring(stack):
    """The recipient's key pair in a keyring of root's, its public half in
    www-data's: (root's keyring, www-data's)."""
    keys = stack.dir("keys")
    os.chmod(keys, 0o700)
    cgi_keys = stack.dir("gnupg", owner=harness.CGI_USER)
    os.chmod(cgi_keys, 0o700)
    for home in (keys, cgi_keys):
        stack.callback(subprocess.run, ["gpgconf", "--homedir", home, "--kill", "gpg-agent"])
    gpg(keys, "--passphrase", "", "--quick-gen-key", RECIPIENT, "default", "default", "never")
    public = gpg(keys, "--armor", "--export", RECIPIENT)
    subprocess.run(["runuser", "-u", harness.CGI_USER, "--", "gpg", "--batch", "--quiet",
                    "--homedir", cgi_keys, "--import"], input=public, check=True,
                   capture_output=True)
    return keys, cgi_keys


def readable(msg, keys):
    """The mail as its reader sees it: a PGP/MIME mail decrypted to the
    entity it carries."""
    if msg.get_content_type() != "multipart/encrypted":
        return msg
    armour = msg.get_payload()[1].get_payload(decode=True)
    return email.message_from_bytes(gpg(keys, "--decrypt", input=armour),
                                    policy=email.policy.default)


def decoded(msg):
    """The text a reader shows of a (readable) mail, whatever its encoding."""
    if msg.is_multipart():
        msg = msg.get_body(preferencelist=("plain",))
    return msg.get_content().replace("\r\n", "\n")


def files_of(msg):
    return [(part.get_content_type(), part.get_filename(), part.get_payload(decode=True))
            for part in msg.iter_attachments()] if msg.is_multipart() else []


def longest_line(msg):
    return max(len(line.rstrip(b"\r")) for line in msg.raw.split(b"\n"))


def make_pages(stack, site, smtp):
    """The forms beside contact.html: a copy of it that posts
    multipart/form-data with a file input, apply.html and a copy of it
    posting to apply-secure.tpl; the files to choose."""
    htdocs = os.path.join(site, "htdocs")
    with open(os.path.join(htdocs, "contact.html"), encoding="utf-8") as f:
        form, n = re.subn(r'<form method="POST"',
                          '<form method="POST" enctype="multipart/form-data"', f.read())
    form, m = re.subn(r'(<p><input type="submit")',
                      r'<p><input type="file" name="attachment"></p>\n\1', form)
    if (n, m) != (1, 1):
        raise Failure("examples/contact.html has no POST form with a submit button")
    harness.write(os.path.join(htdocs, MULTIPART_PAGE), form)
    harness.install_page(site, "apply.html", RECIPIENT)
    harness.install_page(site, "apply.html", RECIPIENT, SECURE_PAGE, "apply-secure.tpl")
    for name in ("apply.tpl", "apply-secure.tpl"):
        harness.install_template(site, name, smtp, RECIPIENT)
    paths = {}
    for name, data in FILES.items():
        paths[name] = os.path.join(stack.dir("files", os.path.dirname(name)),
                                   os.path.basename(name))
        with open(paths[name], "wb") as f:
            f.write(data)
    return paths


def cgi_env(stack, cgi_keys):
    """What the CGI program needs for encrypted mail: the keyring, a private
    temporary directory, and the shipped pgp.exe on its PATH."""
    bin_dir = stack.dir("bin")
    shutil.copy(os.path.join(harness.ROOT, "tools", "pgp.exe"), bin_dir)
    return {"GNUPGHOME": cgi_keys, "TMP": stack.dir("cgi-tmp", owner=harness.CGI_USER),
            "PATH": bin_dir + ":" + harness.SERVER_ENV["PATH"]}


def run_browser(stack, base, paths, shots):
    def value(v):
        return paths.get(v, v)
    return harness.chromium(stack, [
        {"name": c.name, "url": base + c.page,
         "fields": {k: value(v) for k, v in c.fields.items()},
         "form_png": os.path.join(shots, c.name + "-form.png"),
         "page_png": os.path.join(shots, c.name + "-page.png")}
        for c in CASES])


def check_case(case, got, everything, keys):
    problems = []
    if "error" in got:
        return ["%s: %s" % (case.name, got["error"])]
    problems += ["%s: the page does not show %r: %r" % (case.name, t, got["text"])
                 for t in case.texts if t not in got["text"]]
    if got["status"] != 200 or got["seconds"] >= MAX_SECONDS:
        problems.append("%s: status %s after %.2f s" % (case.name, got["status"], got["seconds"]))
    subjects = {s for _, s, _ in case.mails}
    arrived = sorted((m for m in everything if str(m["Subject"]) in subjects),
                     key=lambda m: (m["X-Original-To"], str(m["Subject"])))
    want = sorted(case.mails)
    problems += ["%s: mail to %s has a line of %d octets" % (case.name, m["X-Original-To"],
                                                             longest_line(m))
                 for m in arrived if longest_line(m) > MAX_LINE]
    if [(m["X-Original-To"], str(m["Subject"])) for m in arrived] != [w[:2] for w in want]:
        return problems + ["%s: mails %s, want %s" % (
            case.name, [(m["X-Original-To"], str(m["Subject"])) for m in arrived],
            [w[:2] for w in want])]
    for m, w in zip(arrived, want):
        shown = readable(m, keys)
        if w[2] not in decoded(shown):
            problems.append("%s: mail to %s has no %r: %r" % (case.name, w[0], w[2],
                                                              decoded(shown)))
        if files_of(shown) != list(case.files):
            problems.append("%s: mail to %s carries %s, want %s" % (
                case.name, w[0], [(t, n, len(b)) for t, n, b in files_of(shown)],
                [(t, n, len(b)) for t, n, b in case.files]))
        if (m.get_content_type() == "multipart/encrypted") != case.encrypted:
            problems.append("%s: mail to %s is %s" % (case.name, w[0], m.get_content_type()))
    return problems


def main():
    program, state = sys.argv[1:]
    with harness.Stack(state) as stack:
        postfix = harness.Postfix(stack)
        site = harness.make_site(stack, program, postfix.smtp, recipient=RECIPIENT)
        paths = make_pages(stack, site, postfix.smtp)
        keys, cgi_keys = make_keyring(stack)
        server = harness.apache(stack, site, "cgid", cgi_env(stack, cgi_keys))
        shots = stack.dir("screenshots")
        results = run_browser(stack, "http://127.0.0.1:%d/" % server.port, paths, shots)

        problems = []
        # Every case's own mails, told apart by their subjects, and the
        # confirmations together; one more would show too.
        total = sum(len(c.mails) + bool(c.confirmation) for c in CASES)
        everything = postfix.settled_mails(total)
        if len(everything) != total:
            problems.append("%d mails arrived, want %d" % (len(everything), total))
        for case in CASES:
            got = results.get(case.name, {"error": "no result"})
            print("%-20s %s" % (case.name, {k: v for k, v in got.items() if k != "text"}))
            print("  screenshots: %s-form.png, %s-page.png in %s" % (case.name, case.name, shots))
            problems += check_case(case, got, everything, keys)
        # The encrypted application decrypts to what the plain one carries.
        plain, secret = ([readable(m, keys) for m in everything
                          if str(m["Subject"]) == subject]
                         for subject in ("Application from Ann Apply: Engineer", "Job application"))
        if [(decoded(m), files_of(m)) for m in plain] != [(decoded(m), files_of(m))
                                                          for m in secret]:
            problems.append("the encrypted application is not the plain one's entity")
        for confirmation in (CONFIRMATION, APPLIED):
            found = [m for m in everything
                     if (m["X-Original-To"], str(m["Subject"])) == confirmation[:2]]
            wanted = sum(c.confirmation == confirmation for c in CASES)
            if len(found) != wanted:
                problems.append("%d of %r, want %d" % (len(found), confirmation[1], wanted))
            problems += ["%r has no %r: %r" % (confirmation[1], confirmation[2], decoded(m))
                         for m in found if confirmation[2] not in decoded(m)]
            problems += ["%r carries files" % confirmation[1] for m in found if files_of(m)]
        server.stop()
        problems += ["log: " + line for line in server.unexpected_log_lines()]
        log = server.log_lines()
        if not any(DROPPED_FILE in line for line in log):
            problems.append("log: no line says %r" % DROPPED_FILE)
        problems += ["log names a file: " + line for line in log
                     if any(os.path.basename(name) in line for name in FILES)]
    if problems:
        raise Failure("\n  ".join(["browser:"] + problems))
    print("browser: %d cases rendered and mailed as expected" % len(CASES))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: browser_test.py PATH-TO-veltrano2.exe STATE-DIR")
    harness.run_test(main, ["apache2", "chromium", "node", "postconf", "gpg", "gpgconf"],
                     files=[PLAYWRIGHT])
