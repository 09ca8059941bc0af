#!/usr/bin/env python3
"""What visitors and mails see when more submissions arrive at once than
fcgiwrap has processes (-c): the example site behind nginx + fcgiwrap (the
webserver tests' harness, as root), its mail server answering each SMTP
command only after a delay, and N visitors submitting the contact form at
the same moment, each from an address of its own (so the rate limit does
not step in).

    bench/fcgiwrap_queue.py [--submissions N] [--processes M] [--reply-delay S] PROGRAM

PROGRAM is a built veltrano2.exe (build/veltrano2.exe). Prints one line per
visitor (HTTP status, seconds until the answer) and when the mails and data
lines arrived; nothing is asserted. A submission of the example form sends
two mails: with a delay of S seconds before each of the 11 replies of its
SMTP conversation it takes about 11 S seconds. The defaults (16, 8, 3 s)
take about 70 s.
"""

import argparse
import os
import socketserver
import sys
import threading
import time
import urllib.parse
import http.client

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "webserver"))
import harness  # noqa: E402

FORM = urllib.parse.urlencode({"name": "Ann Example", "email": "root@localhost.localdomain",
                               "message": "Hello", "to": "root@localhost"})


class SlowSmtp(socketserver.ThreadingTCPServer):
    """Accepts every mail, answering each command `delay` seconds late; keeps
    the time each mail was accepted."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, delay):
        self.delay, self.accepted, self.lock = delay, [], threading.Lock()
        super().__init__(("127.0.0.1", 0), SlowSmtpHandler)


class SlowSmtpHandler(socketserver.StreamRequestHandler):
    def reply(self, text):
        time.sleep(self.server.delay)
        self.wfile.write(text.encode() + b"\r\n")

    def handle(self):
        self.reply("220 slow ESMTP")
        in_data = False
        for line in self.rfile:
            if in_data:
                if line.rstrip(b"\r\n") == b".":
                    in_data = False
                    with self.server.lock:
                        self.server.accepted.append(time.monotonic())
                    self.reply("250 queued")
                continue
            verb = line[:4].upper()
            if verb == b"DATA":
                in_data = True
                self.reply("354 go ahead")
            elif verb == b"QUIT":
                self.reply("221 bye")
                return
            else:
                self.reply("250 ok")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--submissions", type=int, default=16)
    parser.add_argument("--processes", type=int, default=8)
    parser.add_argument("--reply-delay", type=float, default=3)
    parser.add_argument("program")
    args = parser.parse_args()

    smtp = SlowSmtp(args.reply_delay)
    threading.Thread(target=smtp.serve_forever, daemon=True).start()
    harness.FCGIWRAP_CHILDREN = args.processes
    with harness.Stack(os.path.join(harness.ROOT, "build-bench", "fcgiwrap-queue")) as stack:
        site = harness.make_site(stack, os.path.abspath(args.program),
                                 "127.0.0.1:%d" % smtp.server_address[1])
        server = harness.nginx(stack, site)
        print("nginx + fcgiwrap -c %d, %d submissions at once, each SMTP reply %.1f s late"
              % (args.processes, args.submissions, args.reply_delay))
        results = [None] * args.submissions
        start = time.monotonic()

        def visit(i):
            conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=300,
                                              source_address=("127.0.0.%d" % (i + 2), 0))
            try:
                conn.request("POST", "/cgi-bin/veltrano2.exe?contact.tpl", FORM,
                             {"Content-Type": "application/x-www-form-urlencoded"})
                resp = conn.getresponse()
                resp.read()
                results[i] = (resp.status, time.monotonic() - start)
            except OSError as e:
                results[i] = (str(e), time.monotonic() - start)
            finally:
                conn.close()

        visitors = [threading.Thread(target=visit, args=(i,)) for i in range(args.submissions)]
        for v in visitors:
            v.start()
        for v in visitors:
            v.join()
        # The programs of visitors who were given up on may still be sending.
        time.sleep(11 * args.reply_delay + 5)
        data = os.path.join(site, "data", "contact.csv")
        lines = open(data).read().count("\n") if os.path.exists(data) else 0
        server.stop()
    for i, (status, seconds) in enumerate(results):
        print("visitor %2d: %s after %5.1f s" % (i + 1, status, seconds))
    accepted = sorted(t - start for t in smtp.accepted)
    print("%d mails accepted by the mail server (at %s s), %d data lines"
          % (len(accepted), ", ".join("%.0f" % t for t in accepted), lines))


if __name__ == "__main__":
    harness.run_test(main, ["nginx", "fcgiwrap"])
