#!/usr/bin/env python3
"""A static site's form on another origin than the form mailer: a private
Apache (mod_cgid, the CGI run as www-data) on two loopback ports, the pages
of examples/fetch.html served from the second to Debian's headless Chromium,
the program on the first with fetch.tpl, whose ALLOWORIGIN lists the
second (harness.cross_origin_site).

In the browser:
- the form posted by the browser itself (form.html, no script), which
  needs no preflight: the answer carries Access-Control-Allow-Origin, and
  SUCCEEDURL's 303 See Other leads to the page origin's thanks.html;
- fetch() with Accept: application/json: a success, after which the page's
  script goes to the "next" address, and a 422 whose field errors show
  next to their fields;
- a fetch() whose Content-Type needs a preflight, which goes through.
Through http.client, each outcome's JSON answer and status, the preflight's
answer, and no cross-origin header for an origin not listed.
Three submissions' mails arrive; the server's log holds nothing else than
the program's lines.

Usage: cross_origin_test.py PATH-TO-veltrano2.exe STATE-DIR
"""

import json
import os
import sys

import harness
from harness import Failure

HERE = os.path.dirname(os.path.abspath(__file__))
PLAYWRIGHT = os.path.join(HERE, "node_modules", "playwright-core", "package.json")
RECIPIENT = "root@localhost"
VISITOR = "root@localhost.localdomain"
JSON = "application/json"
FORM = "application/x-www-form-urlencoded"

# What the page's own script does; the quoted charset makes the Content-Type
# one a browser asks about first (a preflight).
PREFLIGHTED_FETCH = """(async () => {
  const form = document.getElementById('contact');
  const body = new URLSearchParams({name: 'Ann Preflight', email: '%s', to: '%s'});
  const response = await fetch(form.action, {method: 'POST', body,
    headers: {'Accept': 'application/json',
              'Content-Type': 'application/x-www-form-urlencoded; charset="utf-8"'}});
  return {status: response.status, answer: await response.json()};
})()""" % (VISITOR, RECIPIENT)

# Templates beside fetch.tpl for the outcomes a visitor can't easily cause
# through the page: over the rate limit, a mail server that is down, a page
# that is missing.
OUTCOME_TEMPLATES = {
    "limited.tpl": "<RATELIMIT>{data}/limited 1 3600</RATELIMIT>",
    "down.tpl": "<SMTPSERVER>127.0.0.1:1</SMTPSERVER><SENDER>s@localhost</SENDER>"
                "<SUBJECT>s</SUBJECT><MSGBODY>b</MSGBODY>",
    "missing.tpl": "<FATALMSGFILE>nosuch.htm</FATALMSGFILE>",
}
OUTCOME_BASE = ("<ERRMSGFILE>error.htm</ERRMSGFILE><SUCCEEDURL>/thanks.html</SUCCEEDURL>"
                "<FORMDATA>\n<NAME=\"name\" required REQUIREDERR=\"Your name, please.\">\n"
                "<NAME=\"to\" sendto>\n</FORMDATA>\n")

# (case, method, template, body, headers beside Accept, status, JSON answer
# or the keys it has)
OUTCOMES = [
    ("ok", "POST", "limited.tpl", "name=A", {}, 200, {"ok": True, "next": "/thanks.html"}),
    ("rate limit", "POST", "limited.tpl", "name=A", {}, 429, ["ok", "error", "message"]),
    ("field errors", "POST", "fetch.tpl", "name=&email=x", {}, 422,
     {"ok": False, "errors": [{"field": "name", "message": "Please tell us your name."},
                              {"field": "email", "message": "That e-mail address is not "
                                                            "valid."}]}),
    ("not POST", "GET", "fetch.tpl", None, {}, 405,
     {"ok": False, "error": "Form Submit Error",
      "message": "You must submit a form with a POST method."}),
    ("too large", "POST", "fetch.tpl", "message=" + "a" * (1 << 20), {}, 413,
     ["ok", "error", "message"]),
    ("bad escape", "POST", "fetch.tpl", "name=%zz", {}, 400,
     {"ok": False, "error": "Veltrano error", "message": "Invalid escape sequence"}),
    ("mail server down", "POST", "down.tpl", "name=A&to=" + RECIPIENT, {}, 503,
     {"ok": False, "error": "Socket Initialization error",
      "message": "The mail server could not be reached.  Please try again later."}),
    ("page missing", "POST", "missing.tpl", "name=A", {}, 500, ["ok", "error", "message"]),
]


def browser_cases(page_origin, shots):
    def case(name, page, fields, **more):
        return dict({"name": name, "url": page_origin + "/" + page, "fields": fields,
                     "form_png": os.path.join(shots, name + "-form.png"),
                     "page_png": os.path.join(shots, name + "-page.png")}, **more)
    person = {"email": VISITOR, "message": "Sent from another origin."}
    return [
        case("form-post", "form.html", dict(person, name="Ann Form")),
        case("fetch-success", "fetch.html", dict(person, name="Ann Fetch")),
        case("fetch-errors", "fetch.html", {"name": "", "email": "not-an-address"},
             wait="#status", read={"name": '[data-error-for="name"]',
                                   "email": '[data-error-for="email"]', "status": "#status"}),
        case("fetch-preflight", "fetch.html", {}, evaluate=PREFLIGHTED_FETCH),
    ]


def check_browser(results, page_origin):
    thanks = page_origin + "/thanks.html"
    problems = []
    for name, got in results.items():
        print("%-16s %s" % (name, {k: v for k, v in got.items() if k not in ("text", "chain")}))
    form, fetched, errors, preflight = (results.get(n, {"error": "no result"}) for n in (
        "form-post", "fetch-success", "fetch-errors", "fetch-preflight"))
    for name, got in (("form-post", form), ("fetch-success", fetched)):
        if got.get("url") != thanks or "Thank you" not in got.get("text", ""):
            problems.append("%s: ended on %r showing %r, want %s" % (
                name, got.get("url"), got.get("text", got.get("error")), thanks))
    # The browser's own post: 303 to the thank-you page, with the header of
    # the listed origin.
    chain = form.get("chain", [])
    posted = chain[0] if chain else {}
    headers = posted.get("headers", {})
    if (posted.get("method"), posted.get("status")) != ("POST", 303) or \
            headers.get("location") != thanks or \
            headers.get("access-control-allow-origin") != page_origin or \
            headers.get("vary") != "Origin":
        problems.append("form-post: the post was answered %r" % (posted,))
    want = {"name": "Please tell us your name.", "email": "That e-mail address is not valid.",
            "status": "Please check the fields marked above."}
    if errors.get("read") != want:
        problems.append("fetch-errors: the page shows %r, want %r"
                        % (errors.get("read", errors.get("error")), want))
    if preflight.get("evaluated") != {"status": 200, "answer": {"ok": True, "next": thanks}}:
        problems.append("fetch-preflight: %r" % (preflight.get("evaluated",
                                                               preflight.get("error")),))
    return problems


def check_outcomes(server, page_origin):
    problems = []
    for case, method, template, body, headers, status, want in OUTCOMES:
        got, resp, text, _ = server.request(
            method, "/cgi-bin/veltrano2.exe?" + template, body, FORM if body else None,
            dict(headers, Accept=JSON, Origin=page_origin))
        print("%-20s %s %s" % (case, got, text.strip()[:100]))
        try:
            answer = json.loads(text)
        except ValueError:
            answer = None
        as_wanted = answer == want if isinstance(want, dict) else \
            isinstance(answer, dict) and sorted(answer) == sorted(want)
        if got != status or not as_wanted or \
                not resp.getheader("Content-Type", "").startswith(JSON) or \
                resp.getheader("Access-Control-Allow-Origin") != page_origin:
            problems.append("%s: %d %r %r" % (case, got, dict(resp.getheaders()), text[:300]))
        if status == 405 and resp.getheader("Allow") != "POST":
            problems.append("%s: Allow %r" % (case, resp.getheader("Allow")))
    return problems


def check_preflight(server, page_origin):
    problems = []
    for origin, listed in ((page_origin, True), ("http://127.0.0.1:1", False)):
        got, resp, text, _ = server.request(
            "OPTIONS", "/cgi-bin/veltrano2.exe?fetch.tpl",
            headers={"Origin": origin, "Access-Control-Request-Method": "POST",
                     "Access-Control-Request-Headers": "content-type"})
        want = {"Access-Control-Allow-Methods": "POST",
                "Access-Control-Allow-Headers": "Content-Type, Accept",
                "Access-Control-Max-Age": "86400",
                "Access-Control-Allow-Origin": origin if listed else None,
                "Vary": "Origin" if listed else None}
        have = {name: resp.getheader(name) for name in want}
        print("preflight %-22s %s %s" % (origin, got, have))
        if got != 204 or have != want or text:
            problems.append("preflight from %s: %d %r %r" % (origin, got, have, text))
    # An origin not listed gets its answer, without the header.
    got, resp, text, _ = server.request("POST", "/cgi-bin/veltrano2.exe?limited.tpl", "name=A",
                                        FORM, {"Accept": JSON, "Origin": "http://127.0.0.1:1"})
    if resp.getheader("Access-Control-Allow-Origin") is not None:
        problems.append("an unlisted origin got %r" % resp.getheader("Access-Control-Allow-Origin"))
    return problems


def main():
    program, state = sys.argv[1:]
    with harness.Stack(state) as stack:
        postfix = harness.Postfix(stack)
        site = harness.make_site(stack, program, postfix.smtp, recipient=RECIPIENT)
        server = harness.apache(stack, site, "cgid", origins=2)
        cgi_origin, page_origin = (harness.origin(port) for port in server.ports)
        harness.cross_origin_site(site, postfix.smtp, page_origin, cgi_origin, RECIPIENT)
        data = os.path.join(site, "data")
        for name, sections in OUTCOME_TEMPLATES.items():
            harness.write(os.path.join(site, "cgi-bin", name),
                          sections.format(data=data) + OUTCOME_BASE +
                          "<ALLOWORIGIN>%s</ALLOWORIGIN>" % page_origin)
        print("pages on %s, the program on %s, state in %s" % (page_origin, cgi_origin,
                                                               stack.state))
        results = harness.chromium(stack, browser_cases(page_origin, stack.dir("screenshots")))
        problems = check_browser(results, page_origin)
        problems += check_outcomes(server, page_origin)
        problems += check_preflight(server, page_origin)
        # Three submissions, each a message and a confirmation.
        subjects = sorted(str(m["Subject"]) for m in postfix.settled_mails(6))
        want = sorted(["Contact form: message from Ann " + who
                       for who in ("Form", "Fetch", "Preflight")] +
                      ["Thank you for your message"] * 3)
        if subjects != want:
            problems.append("mails %r, want %r" % (subjects, want))
        server.stop()
        problems += ["log: " + line for line in server.unexpected_log_lines()]
    if problems:
        raise Failure("\n  ".join(["cross-origin:"] + problems))
    print("cross-origin: the form, fetch() and the preflight from another origin, %d outcomes"
          % len(OUTCOMES))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: cross_origin_test.py PATH-TO-veltrano2.exe STATE-DIR")
    harness.run_test(main, ["apache2", "chromium", "node", "postconf"], files=[PLAYWRIGHT])
