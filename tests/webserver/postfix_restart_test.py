#!/usr/bin/env python3
"""The private Postfix (tools/postfix-start.sh) starts again after an abrupt
stop: every process of the instance is killed with SIGKILL, and what such a
stop leaves is left in place (the pid file, a file a killed cleanup left in
the queue's incoming/, a mailbox dotlock); then it must start and deliver.

Usage: postfix_restart_test.py STATE-DIR
"""

import os
import pwd
import signal
import smtplib
import sys

import harness
from harness import Failure


def instance_processes(postfix):
    """The master of the instance and every process it started."""
    with open(os.path.join(postfix.dir, "queue", "pid", "master.pid")) as f:
        master = int(f.read())
    pids = [master]
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            continue
        if parent == master:
            pids.append(int(entry))
    return pids


def main():
    with harness.Stack(sys.argv[1]) as stack:
        postfix = harness.Postfix(stack)
        for pid in instance_processes(postfix):
            os.kill(pid, signal.SIGKILL)
        user = pwd.getpwnam("postfix")
        leftover = os.path.join(postfix.dir, "queue", "incoming", "7A1B2C3D4E")
        harness.write(leftover, "", 0o600)
        os.chown(leftover, user.pw_uid, user.pw_gid)
        harness.write(os.path.join(postfix.mail_dir, "root.lock"), "")

        postfix = harness.Postfix(stack)
        host, port = postfix.smtp.split(":")
        with smtplib.SMTP(host, int(port), timeout=30) as smtp:
            smtp.sendmail("test@localhost", ["root@localhost"],
                          "Subject: after a kill\r\n\r\nDelivered.\r\n")
        mails = postfix.settled_mails(1)
        if [m["Subject"] for m in mails] != ["after a kill"]:
            raise Failure("after a restart: %d mails: %s"
                          % (len(mails), [m["Subject"] for m in mails]))
    print("postfix_restart: started again after SIGKILL and delivered")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: postfix_restart_test.py STATE-DIR")
    harness.run_test(main, ["postconf"])
