"""Private web servers, a private Postfix and the example site, for tests that
put veltrano2.exe behind a real web server as a Debian administrator would.

Every server is an instance of its own, started from the Debian package's
binary with a configuration written here, on a free loopback port, with all
its files in the test's state directory: conf/, logs/, sockets/, the site in
site/ (htdocs/, cgi-bin/, data/) and the Postfix instance in postfix/. CGI
programs run as www-data and Postfix's daemons as postfix, so the state
directory is made for each run under /var/tmp, which they can reach whatever
the checkout's parents allow (a checkout in root's mode-0700 home, say); the
path the test is given (LINK, in the build directory) becomes a symbolic link
to it. Servers are stopped when the test ends, also on an exception or
SIGTERM; the state directory stays for a look until the next run through the
same LINK, which stops whatever a killed run left running and removes it.
"""

import contextlib
import ctypes
import email
import email.policy
import mailbox
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import http.client
import json

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIP = 77
# Where state directories are made: its parents are searchable by everyone,
# and mkdtemp makes a fresh directory that nobody else can have prepared.
STATE_BASE = "/var/tmp"
STATE_PREFIX = "veltrano-"
CGI_USER = "www-data"
# What Debian's apache2ctl gives the server, and so its CGI programs.
SERVER_ENV = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
              "LANG": "C"}


class Failure(Exception):
    pass


def run_test(main, needs, files=()):
    """Runs main() as a CTest test: exit 0, 1 on a Failure (printed), 77 when
    this machine cannot run it (not root, a program or file missing); under
    CI (CI set) that is a failure too. `needs` are programs main() will run,
    `files` other files it needs."""
    def on_term(signum, frame):
        raise SystemExit("terminated by signal %d" % signum)
    signal.signal(signal.SIGTERM, on_term)

    missing = [p for p in needs if not shutil.which(p, path=SERVER_ENV["PATH"])]
    missing += [f for f in files if not os.path.exists(f)]
    reason = ("it needs root to start servers that run CGI programs as " + CGI_USER
              if os.geteuid() != 0 else
              "missing %s (tools/install-deps.sh installs it)" % ", ".join(missing)
              if missing else None)
    if reason:
        if os.environ.get("CI"):
            print("FAIL: " + reason)
            sys.exit(1)
        print("SKIPPED: " + reason)
        sys.exit(SKIP)
    try:
        main()
    except Failure as e:
        print("FAIL: %s" % e)
        sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write(path, text, mode=0o644):
    with open(path, "w", newline="") as f:
        f.write(text)
    os.chmod(path, mode)


def _die_with_parent():
    # The server goes when the test does, even when the test is killed.
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def _as_cgi_user():
    user = pwd.getpwnam(CGI_USER)
    os.setgroups([])
    os.setgid(user.pw_gid)
    os.setuid(user.pw_uid)
    _die_with_parent()


class Stack(contextlib.ExitStack):
    """Everything a test started, with its state directory (made afresh, and
    linked to from `link`); closing it stops the servers in reverse order."""

    def __init__(self, link):
        super().__init__()
        link = os.path.abspath(link)
        _remove_previous(link)
        os.makedirs(os.path.dirname(link), exist_ok=True)
        self.state = tempfile.mkdtemp(prefix="%s%s-" % (STATE_PREFIX, os.path.basename(link)),
                                      dir=STATE_BASE)
        os.chmod(self.state, 0o755)
        os.symlink(self.state, link)
        _check_reachable(self.state)
        self.sockets = self.dir("sockets")

    def dir(self, *parts, owner=None):
        path = os.path.join(self.state, *parts)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, 0o755)
        if owner:
            user = pwd.getpwnam(owner)
            os.chown(path, user.pw_uid, user.pw_gid)
        return path

    def spawn(self, argv, log, as_cgi_user=False, marker=None):
        """Starts a server in the foreground of its own session. Its pid goes
        to STATE/pids with `marker` (default STATE), a text of its command
        line, so that a later run can tell a leftover of its own."""
        out = open(log, "ab")
        proc = subprocess.Popen(argv, env=SERVER_ENV, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=out, start_new_session=True,
                                preexec_fn=_as_cgi_user if as_cgi_user else _die_with_parent)
        out.close()
        with open(os.path.join(self.state, "pids"), "a") as f:
            f.write("%d %s\n" % (proc.pid, marker or self.state))
        self.callback(_stop, proc)
        return proc


def _stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()


def _remove_previous(link):
    """Stops what the previous run through `link` left running and removes
    its state directory (only one of ours: a directory under STATE_BASE)."""
    if os.path.islink(link):
        state = os.path.realpath(link)
        os.unlink(link)
        if (os.path.dirname(state) == STATE_BASE
                and os.path.basename(state).startswith(STATE_PREFIX) and os.path.isdir(state)):
            _reap_leftovers(state)
            shutil.rmtree(state, ignore_errors=True)
    elif os.path.isdir(link):  # a state directory of an earlier layout
        _reap_leftovers(link)
        shutil.rmtree(link, ignore_errors=True)


def _reap_leftovers(state):
    try:
        with open(os.path.join(state, "pids")) as f:
            pids = [line.rstrip("\n").split(" ", 1) for line in f if line.strip()]
    except OSError:
        pids = []
    for pid, marker in pids:
        pid = int(pid)
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                mine = marker.encode() in f.read()
        except OSError:
            continue
        if mine:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(pid, signal.SIGKILL)
    if os.path.isdir(os.path.join(state, "postfix")):
        subprocess.run([os.path.join(ROOT, "tools", "postfix-stop.sh")],
                       env=dict(os.environ, VELTRANO_POSTFIX_DIR=os.path.join(state, "postfix")))


def _check_reachable(path):
    for user in (CGI_USER, "postfix"):
        probe = subprocess.run(["runuser", "-u", user, "--", "test", "-x", path])
        if probe.returncode != 0:
            raise Failure("%s cannot enter %s: its parents must be searchable by others"
                          % (user, path))


class Postfix:
    """A private Postfix instance (tools/postfix-start.sh) in STATE/postfix."""

    def __init__(self, stack):
        self.dir = os.path.join(stack.state, "postfix")
        env = dict(os.environ, VELTRANO_POSTFIX_DIR=self.dir,
                   VELTRANO_SMTP_LISTEN="127.0.0.1:%d" % free_port())
        started = subprocess.run([os.path.join(ROOT, "tools", "postfix-start.sh")],
                                 env=env, capture_output=True, text=True)
        stack.callback(subprocess.run, [os.path.join(ROOT, "tools", "postfix-stop.sh")],
                       env=env)
        if started.returncode != 0:
            raise Failure("Postfix did not start: " + started.stderr.strip())
        info = dict(line.split("=", 1) for line in started.stdout.split())
        self.smtp = info["VELTRANO_SMTP"]
        self.mail_dir = info["VELTRANO_MAIL_DIR"]

    def mails(self, user="root"):
        """The mails delivered to `user`, read with the email package's
        default policy (headers decoded as a mail reader shows them); each
        keeps the bytes it was read from as `raw`."""
        path = os.path.join(self.mail_dir, user)
        if not os.path.exists(path):
            return []
        box = mailbox.mbox(path, create=False)
        try:
            mails = []
            for key in box.keys():
                raw = box.get_bytes(key)
                mails.append(email.message_from_bytes(raw, policy=email.policy.default))
                mails[-1].raw = raw
            return mails
        finally:
            box.close()

    def queue_empty(self):
        queue = os.path.join(self.dir, "queue")
        return not any(files for d in ("maildrop", "incoming", "active", "deferred", "hold")
                       for _, _, files in os.walk(os.path.join(queue, d)))

    def settled_mails(self, want, user="root", timeout=15):
        """The mailbox once `want` mails are in it and the queue is empty (or
        the time is up): a mail more than wanted would show as well."""
        deadline = time.monotonic() + timeout
        while True:
            mails = self.mails(user)
            if len(mails) >= want and self.queue_empty() or time.monotonic() > deadline:
                return mails
            time.sleep(0.1)


def make_site(stack, program, smtp, recipient="root@localhost"):
    """The example site: contact.html in htdocs/, its hidden field "to" set
    to `recipient`; the program with contact.tpl and its pages in cgi-bin/,
    the template's mail server set to `smtp`, its recipients to `recipient`,
    and its data file and rate-limit state moved to data/ (owned by www-data,
    out of the visitors' reach)."""
    site = stack.dir("site")
    stack.dir("site", "htdocs")
    cgi = stack.dir("site", "cgi-bin")
    stack.dir("site", "data", owner=CGI_USER)
    examples = os.path.join(ROOT, "examples")
    install_page(site, "contact.html", recipient)
    for name in ("success.htm", "error.htm", "failure.htm"):
        shutil.copy(os.path.join(examples, name), cgi)
    install_template(site, "contact.tpl", smtp, recipient, data_file=True)
    shutil.copy(program, os.path.join(cgi, "veltrano2.exe"))
    os.chmod(os.path.join(cgi, "veltrano2.exe"), 0o755)
    return site


def install_page(site, name, recipient, as_name=None, template=None):
    """examples/NAME as htdocs/AS_NAME (default NAME), its hidden field "to"
    set to `recipient` and, given `template`, its form posted to that."""
    with open(os.path.join(ROOT, "examples", name)) as f:
        form, n = re.subn(r'(<input type="hidden" name="to" value=")[^"]*"',
                          r'\g<1>%s"' % recipient, f.read())
    if n != 1:
        raise Failure('examples/%s has no hidden field "to" to point' % name)
    if template:
        form, n = re.subn(r'veltrano2\.exe\?[^"]*"', 'veltrano2.exe?%s"' % template, form)
        if n != 1:
            raise Failure("examples/%s has no form posting to veltrano2.exe" % name)
    write(os.path.join(site, "htdocs", as_name or name), form)


def install_template(site, name, smtp, recipient, data_file=False, sections=None):
    """examples/NAME in the site's cgi-bin/, its mail server set to `smtp`,
    its recipients to `recipient`, its rate-limit state (and with
    `data_file` its data file) moved to the site's data/, and each section
    of `sections` ({TAG: text}) holding the text given."""
    data = os.path.join(site, "data")
    with open(os.path.join(ROOT, "examples", name)) as f:
        template = f.read()
    template, n1 = re.subn(r"<SMTPSERVER>.*?</SMTPSERVER>",
                           "<SMTPSERVER>%s</SMTPSERVER>" % smtp, template)
    template, n2 = re.subn(r"<DFILE APPEND>.*?</DFILE>",
                           "<DFILE APPEND>%s/contact.csv</DFILE>" % data, template)
    template, n3 = re.subn(r"<RATELIMIT>/var/lib/veltrano/",
                           "<RATELIMIT>%s/" % data, template)
    template, n4 = re.subn(r"<RECIPIENTS>.*?</RECIPIENTS>",
                           "<RECIPIENTS>%s</RECIPIENTS>" % recipient, template, flags=re.S)
    if (n1, n2, n3, n4) != (1, int(data_file), 1, 1):
        raise Failure("examples/%s has no SMTPSERVER, %sRATELIMIT or RECIPIENTS section to "
                      "point" % (name, "DFILE APPEND, " if data_file else ""))
    for tag, text in (sections or {}).items():
        template, n = re.subn(r"<%s>.*?</%s>" % (tag, tag),
                              lambda m: "<%s>%s</%s>" % (tag, text, tag), template, flags=re.S)
        if n != 1:
            raise Failure("examples/%s has no %s section to point" % (name, tag))
    write(os.path.join(site, "cgi-bin", name), template)


def origin(port):
    return "http://127.0.0.1:%d" % port


def cross_origin_site(site, smtp, page_origin, cgi_origin, recipient="root@localhost"):
    """The example of a static site on another origin than the form mailer,
    added to a make_site() site: fetch.html, form.html (the same form
    without its script, posted by the browser itself) and thanks.html in
    htdocs/, for `page_origin`, their form's action the program at
    `cgi_origin`; fetch.tpl in cgi-bin/ with ALLOWORIGIN `page_origin` and
    SUCCEEDURL that origin's thanks.html."""
    install_page(site, "fetch.html", recipient)
    path = os.path.join(site, "htdocs", "fetch.html")
    with open(path, encoding="utf-8") as f:
        page, n = re.subn(r'action="[^"]*/cgi-bin/', 'action="%s/cgi-bin/' % cgi_origin, f.read())
    plain, m = re.subn(r"<script>.*?</script>\n", "", page, flags=re.S)
    if (n, m) != (1, 1):
        raise Failure("examples/fetch.html has no form action or script to point")
    write(path, page)
    write(os.path.join(site, "htdocs", "form.html"), plain)
    shutil.copy(os.path.join(ROOT, "examples", "thanks.html"), os.path.join(site, "htdocs"))
    install_template(site, "fetch.tpl", smtp, recipient, sections={
        "ALLOWORIGIN": page_origin, "SUCCEEDURL": page_origin + "/thanks.html"})


def chromium(stack, cases):
    """Runs `cases` in Debian's headless Chromium (browser.mjs says what a
    case holds), with a fresh profile in the state directory; answers
    {name: result}."""
    job = {"profile": stack.dir("chromium-profile"), "cases": cases}
    # Whatever Node.js and Chromium write goes into the state directory.
    home = stack.dir("home")
    env = dict(SERVER_ENV, HOME=home, XDG_CONFIG_HOME=home, XDG_CACHE_HOME=home,
               TMPDIR=stack.dir("tmp"))
    here = os.path.join(ROOT, "tests", "webserver")
    done = subprocess.run(["node", os.path.join(here, "browser.mjs")], input=json.dumps(job),
                          capture_output=True, text=True, env=env, timeout=180, cwd=here)
    if done.returncode != 0:
        raise Failure("browser.mjs failed:\n" + done.stdout + done.stderr)
    return {r["name"]: r for r in map(json.loads, done.stdout.splitlines())}


def _wait_for_port(proc, port, log):
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            break
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), 0.5):
            return
        time.sleep(0.05)
    with open(log, errors="replace") as f:
        raise Failure("server did not come up on port %d:\n%s" % (port, f.read()))


APACHE_MODULES = {
    # mod_cgid with the event MPM is what `a2enmod cgid` gives; mod_cgi needs prefork.
    "cgid": ["mpm_event", "cgid"],
    "cgi": ["mpm_prefork", "cgi"],
}


def apache(stack, site, cgi_module, cgi_env=None, origins=1):
    """Apache 2.4 serving `site` (htdocs/ at /, cgi-bin/ at /cgi-bin/), with
    the variables of `cgi_env` set for the CGI programs (SetEnv), on as many
    loopback ports as `origins`: the same site on each, each port another
    origin to a browser (Server.ports)."""
    root = stack.dir("apache")
    conf, logs = stack.dir("apache", "conf"), stack.dir("apache", "logs")
    ports = [free_port() for _ in range(origins)]
    lines = ["LoadModule %s_module /usr/lib/apache2/modules/mod_%s.so" % (m, m)
             for m in APACHE_MODULES[cgi_module] + ["authz_core", "mime", "dir", "alias", "env"]]
    set_env = "".join('\n  SetEnv %s "%s"' % item for item in (cgi_env or {}).items())
    lines += [
        'ServerRoot "%s"' % root,
        "ServerName 127.0.0.1",
        *["Listen 127.0.0.1:%d" % port for port in ports],
        'PidFile "%s/apache.pid"' % stack.sockets,
        'DefaultRuntimeDir "%s"' % stack.sockets,
        "Mutex file:%s default" % stack.sockets,
        'ErrorLog "%s/error.log"' % logs,
        "LogLevel warn",
        "User " + CGI_USER,
        "Group " + CGI_USER,
        "StartServers 1",
        "TypesConfig /etc/mime.types",
        'DocumentRoot "%s/htdocs"' % site,
        "DirectoryIndex contact.html",
        "<Directory />\n  AllowOverride None\n  Require all denied\n</Directory>",
        '<Directory "%s/htdocs">\n  Require all granted\n</Directory>' % site,
        'ScriptAlias /cgi-bin/ "%s/cgi-bin/"' % site,
        '<Directory "%s/cgi-bin">\n  Options None\n  Require all granted%s\n</Directory>'
        % (site, set_env),
    ]
    if cgi_module == "cgid":
        lines.append('ScriptSock "%s/cgisock"' % stack.sockets)
    write(os.path.join(conf, "httpd.conf"), "\n".join(lines) + "\n")
    log = os.path.join(logs, "error.log")
    proc = stack.spawn(["apache2", "-d", root, "-f", os.path.join(conf, "httpd.conf"),
                        "-DNO_DETACH"], os.path.join(logs, "stdout.log"))
    for port in ports:
        _wait_for_port(proc, port, log)
    server = Server("Apache mod_" + cgi_module, ports[0],
                    [log, os.path.join(logs, "stdout.log")], proc)
    server.ports = ports
    return server


FCGIWRAP_CHILDREN = 4


def nginx(stack, site):
    """nginx with fcgiwrap, as Debian's fcgiwrap example sets them up."""
    root = stack.dir("nginx")
    conf, logs, tmp = stack.dir("nginx", "conf"), stack.dir("nginx", "logs"), stack.dir("nginx", "tmp")
    port = free_port()
    sock_dir = os.path.join(stack.sockets, "fcgiwrap")
    os.mkdir(sock_dir)
    user = pwd.getpwnam(CGI_USER)
    os.chown(sock_dir, user.pw_uid, user.pw_gid)
    sock = os.path.join(sock_dir, "fcgiwrap.sock")
    # -f: the CGI's standard error goes to nginx's error log, as Debian's unit has it.
    # -c: several CGI programs at a time (one process runs one at a time).
    fcgi_log = os.path.join(logs, "fcgiwrap.log")
    fcgi = stack.spawn(["fcgiwrap", "-f", "-c", str(FCGIWRAP_CHILDREN), "-s", "unix:" + sock],
                       fcgi_log, as_cgi_user=True, marker=sock)
    deadline = time.monotonic() + 10
    while not os.path.exists(sock):
        if fcgi.poll() is not None or time.monotonic() > deadline:
            raise Failure("fcgiwrap did not start: " + open(fcgi_log).read())
        time.sleep(0.05)
    temp_paths = "\n".join("  %s_temp_path %s/%s;" % (k, tmp, k)
                           for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    # Bodies up to 4 MiB reach the program, so that its own 1 MiB limit answers
    # (nginx's default of 1 MiB would answer with its own 413 page first).
    write(os.path.join(conf, "nginx.conf"), """\
daemon off;
worker_processes 1;
user %(user)s %(user)s;
pid %(sockets)s/nginx.pid;
error_log %(logs)s/error.log warn;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log off;
%(temp_paths)s
  client_max_body_size 4m;
  server {
    listen 127.0.0.1:%(port)d;
    server_name 127.0.0.1;
    root %(site)s/htdocs;
    index contact.html;
    location /cgi-bin/ {
      gzip off;
      fastcgi_pass unix:%(sock)s;
      include /etc/nginx/fastcgi_params;
      fastcgi_param SCRIPT_FILENAME %(site)s$fastcgi_script_name;
    }
  }
}
""" % dict(user=CGI_USER, sockets=stack.sockets, logs=logs, temp_paths=temp_paths,
           port=port, site=site, sock=sock))
    log = os.path.join(logs, "error.log")
    proc = stack.spawn(["nginx", "-e", log, "-p", root, "-c", os.path.join(conf, "nginx.conf")],
                       os.path.join(logs, "stdout.log"))
    _wait_for_port(proc, port, log)
    return Server("nginx + fcgiwrap", port, [log, os.path.join(logs, "stdout.log"), fcgi_log],
                  proc, [fcgi])


# Lines a server writes on its own that are no trouble: Apache starting and
# stopping, nginx keeping a large body in a file.
BENIGN = re.compile(r"\b(AH00489|AH00094|AH00491|AH00492|AH00163|AH00169|AH00170)\b"
                    r"|\[warn\] .* a client request body is buffered to a temporary file ")
# The start of a line of the program's standard error: the time (ISO 8601
# with the zone offset), the client's address, the template and the pid.
PROGRAM_START = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d \S+ \S+ \d+ veltrano2\.exe: "
# Such a line as each server logs it: mod_cgid writes it as it is, mod_cgi
# after "AH01215: stderr from SCRIPT: ", nginx after 'FastCGI sent in
# stderr: "', with further lines of the same record as they are.
PROGRAM_LINE = re.compile(r"^%s|AH01215: stderr from \S+: %s|FastCGI sent in stderr: \"%s"
                          % ((PROGRAM_START,) * 3))


class Server:
    def __init__(self, name, port, logs, proc, helpers=()):
        self.name, self.port, self.logs = name, port, logs
        self.ports = [port]
        self.procs = [proc, *helpers]

    def request(self, method, path, body=None, content_type=None, headers=None):
        """(status, headers, body text, seconds) of one request (`body` text
        or bytes, with `headers` beside Content-Type); the whole response is
        read, so a cut or reset connection raises."""
        headers = dict(headers or {})
        if content_type:
            headers["Content-Type"] = content_type
        start = time.monotonic()
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            conn.request(method, path, body=body, headers=headers)
            resp = conn.getresponse()
            text = resp.read().decode("utf-8", "replace")
            return resp.status, resp, text, time.monotonic() - start
        finally:
            conn.close()

    def stop(self):
        for proc in self.procs:
            _stop(proc)

    def log_lines(self):
        found = []
        for path in self.logs:
            with contextlib.suppress(FileNotFoundError), open(path, errors="replace") as f:
                found += [line.rstrip("\n") for line in f if line.strip()]
        return found

    def unexpected_log_lines(self):
        """Every log line that is neither the program's standard error nor a
        start or stop notice (a reset, a broken pipe, a time-out ...)."""
        return [line for line in self.log_lines()
                if not BENIGN.search(line) and not PROGRAM_LINE.search(line)]
