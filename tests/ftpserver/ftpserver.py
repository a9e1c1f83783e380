#!/usr/bin/python3
"""A real FTP server for Kavrel's tests and demo, on Debian's pyftpdlib.

Serves one root folder on a loopback address to the user "admin" (password "tamsk") with full
rights. It lists the way the three kinds of server a backup tool meets list (MLSD offered, Unix LIST
only, DOS/IIS LIST), and it misbehaves on request: the fault hooks are read from a JSON file before
every command, so a test can change them while a client is connected. README.md lists the hooks.

Run with /usr/bin/python3 (the module lives in Debian's python3-pyftpdlib):
    ftpserver.py --root DIR [--port 0] [--host 127.0.0.1] [--listing mlsd|unix|dos]
                 [--faults FILE] [--command-log FILE] [--tls | --tls-cert PEM]
                 [--tls-max 1.2] [--tls-session-timeout SECONDS]
When it listens it prints "PORT <n>" on a line of its own. It exits when its parent process ends.
"""

import argparse
import atexit
import ctypes
import ipaddress
import json
import logging
import os
import posixpath
import signal
import socket
import stat
import struct
import sys
import tempfile
import time
import warnings

warnings.filterwarnings("ignore", category=DeprecationWarning)

from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.filesystems import AbstractedFS  # noqa: E402
from pyftpdlib.handlers import DTPHandler, FTPHandler, proto_cmds  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

USER = "admin"
PASSWORD = "tamsk"

LISTING_COMMANDS = ("LIST", "NLST", "MLSD")
TRANSFER_COMMANDS = ("RETR", "STOR", "APPE", "STOU")
DATA_COMMANDS = LISTING_COMMANDS + TRANSFER_COMMANDS

# The names a hostile or broken server may put into a listing. A client that writes any of them
# as a local path writes outside its folder or loops forever.
DEFAULT_HOSTILE_ENTRIES = [
    {"name": "../x.wav", "type": "file"},
    {"name": "..\\x.wav", "type": "file"},
    {"name": "a/b.wav", "type": "file"},
    {"name": "/abs.wav", "type": "file"},
    {"name": "C:x.wav", "type": "file"},
    {"name": ".", "type": "dir"},
    {"name": "..", "type": "dir"},
]
HOSTILE_FILE_SIZE = 1234
HOSTILE_MTIME = 1780000000  # a fixed date, so that listings are reproducible

KNOWN_FAULT_KEYS = (
    "fail",
    "transfer_error",
    "drop_data",
    "drop_control",
    "silence",
    "truncate_listing",
    "hostile_entries",
    "throttle",
    "refuse_login",
    "no_times",
    "delay",
    "drip_reply",
    "endless_data",
    "no_size",
)
MATCH_FIELDS = ("command", "arg", "name", "cwd", "path")

logger = logging.getLogger("ftpserver")


def warn(text):
    sys.stderr.write("ftpserver: %s\n" % text)
    sys.stderr.flush()


def is_directory_entry(entry):
    return entry.get("type") in ("dir", "cdir", "pdir")


def normalized_dir(path):
    """The form a directory path is compared in: absolute, no trailing slash except for the root."""
    if not path:
        return "/"
    path = posixpath.normpath(path)
    return path if path.startswith("/") else "/" + path


class FaultBook:
    """The fault hooks of the JSON file, re-read whenever the file changes.

    Every key holds a list of rules (a single object or, for a few keys, true is accepted too).
    A rule matches a command by the optional fields command, arg, name, cwd and path; "times" limits
    how often it fires. Counters start again whenever the file's content changes.
    """

    def __init__(self, path):
        self.path = path
        self.content = b""
        self.rules = {}
        self.fired = {}

    def refresh(self):
        """Re-reads the file when its content changed; cheap enough to do before every command,
        and unlike a time stamp it cannot miss two quick rewrites."""
        if not self.path:
            return
        try:
            with open(self.path, "rb") as f:
                content = f.read()
        except OSError:
            content = b""
        if content == self.content:
            return
        self.content = content
        self.fired = {}
        self.rules = {}
        if not content.strip():
            return
        try:
            data = json.loads(content.decode("utf-8"))
        except ValueError as err:
            warn("fault file %s unreadable, no faults active: %s" % (self.path, err))
            return
        if not isinstance(data, dict):
            warn("fault file %s is not a JSON object, no faults active" % self.path)
            return
        for key, value in data.items():
            if key.startswith("_"):
                continue  # comments and the fixture's generation counter
            if key not in KNOWN_FAULT_KEYS:
                warn("unknown fault key %r ignored" % key)
                continue
            self.rules[key] = self._as_rule_list(key, value)

    @staticmethod
    def _as_rule_list(key, value):
        if value is True:
            return [{}]
        if value in (None, False):
            return []
        if isinstance(value, (int, float)) and key == "throttle":
            return [{"bytes_per_second": int(value)}]
        if isinstance(value, dict):
            return [value]
        if isinstance(value, list):
            return [rule for rule in value if isinstance(rule, dict)]
        warn("fault %r has an unusable value, ignored" % key)
        return []

    @staticmethod
    def _matches(rule, context):
        for field in MATCH_FIELDS:
            if field not in rule:
                continue
            wanted = rule[field]
            actual = context.get(field, "")
            if field == "command":
                if str(wanted).upper() != actual:
                    return False
            elif field in ("cwd", "path"):
                if normalized_dir(str(wanted)) != normalized_dir(actual):
                    return False
            elif str(wanted) != actual:
                return False
        return True

    def take(self, key, context, accept=None):
        """The first rule of key that matches and still has uses left; its use is counted."""
        for index, rule in enumerate(self.rules.get(key, [])):
            if not self._matches(rule, context):
                continue
            if accept is not None and not accept(rule):
                continue
            times = rule.get("times")
            used = self.fired.get((key, index), 0)
            if times is not None and used >= int(times):
                continue
            self.fired[(key, index)] = used + 1
            return rule
        return None


def reply_of(rule, default_code, default_text):
    code = int(rule.get("code", default_code))
    text = str(rule.get("text", default_text))
    return "%03d %s" % (code, text)


class TransferPlan:
    """What the faults do to one data transfer; made when its command arrives, read by the data channel."""

    def __init__(self, context):
        self.context = context
        self.drop_after = None  # bytes after which the data connection is cut
        self.drop_reply = None  # the control reply sent when it is cut
        self.drop_reset = False  # cut with a reset instead of an orderly close
        self.drop_unclean = False  # TLS: cut without close_notify, as an attacker's forged FIN would
        self.bytes_per_second = 0  # throttle; 0 = full speed
        self.final_reply = None  # replaces "226 Transfer complete." after a complete transfer
        self.truncate_to = None  # listings: entries kept
        self.hostile = []  # listings: extra entries, each {"name", "type"}
        self.truncated = False  # set by the listing when it really cut entries
        self.no_times = False  # MLSD: leave out the modify fact
        self.endless = False  # RETR: the file's bytes, then more bytes without end
        self.no_size = False  # MLSD: file entries without their size fact


class EndlessProducer:
    """Bytes without end, one block whenever the socket takes more."""

    def __init__(self, block):
        self.block = block

    def more(self):
        return self.block


class FaultFS(AbstractedFS):
    """Listings with the injected entries and the truncation of the current transfer plan."""

    def _plan(self):
        plan = getattr(self.cmd_channel, "transfer_plan", None)
        if plan is None or plan.context["command"] not in LISTING_COMMANDS:
            return None
        return plan

    def _synthetic(self):
        plan = self._plan()
        return {entry["name"]: entry for entry in plan.hostile} if plan else {}

    def listdir(self, path):
        names = sorted(super().listdir(path))
        plan = self._plan()
        if plan is None:
            return names
        names = sorted(names + [entry["name"] for entry in plan.hostile])
        if plan.truncate_to is not None and len(names) > plan.truncate_to:
            names = names[: plan.truncate_to]
            plan.truncated = True
            plan.final_reply = "226 Output truncated to %d matches" % plan.truncate_to
        return names

    def format_list(self, basedir, listing, ignore_err=True):
        synthetic = self._synthetic()
        if not synthetic and type(self) is FaultFS:
            yield from super().format_list(basedir, listing, ignore_err)
            return
        for name in listing:
            if name in synthetic:
                yield self._list_line(synthetic[name]).encode("utf8", "replace")
            else:
                yield from self._real_list_lines(basedir, name, ignore_err)

    def _real_list_lines(self, basedir, name, ignore_err):
        yield from super().format_list(basedir, [name], ignore_err)

    def _list_line(self, entry):
        is_dir = is_directory_entry(entry)
        mode = "drwxr-xr-x" if is_dir else "-rw-r--r--"
        size = 4096 if is_dir else int(entry.get("size", HOSTILE_FILE_SIZE))
        when = time.strftime("%b %d %H:%M", time.gmtime(HOSTILE_MTIME))
        return "%s %3s %-8s %-8s %8s %s %s\r\n" % (mode, 1, "owner", "group", size, when, entry["name"])

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        plan = self._plan()
        if plan is not None and plan.no_times:
            facts = [fact for fact in facts if fact != "modify"]
        if plan is not None and plan.no_size:
            facts = [fact for fact in facts if fact != "size"]
        synthetic = self._synthetic()
        if not synthetic:
            yield from super().format_mlsx(basedir, listing, perms, facts, ignore_err)
            return
        for name in listing:
            if name in synthetic:
                entry = synthetic[name]
                when = time.strftime("%Y%m%d%H%M%S", time.gmtime(HOSTILE_MTIME))
                if is_directory_entry(entry):
                    # "cdir"/"pdir" as some servers mark "." and ".."; plain "dir" is the harder case.
                    line = "type=%s;modify=%s;perm=el; %s\r\n" % (entry["type"], when, name)
                else:
                    size = int(entry.get("size", HOSTILE_FILE_SIZE))
                    kind = entry.get("type", "file")  # e.g. "OS.unix=slink:/x", a link that lists its own size
                    line = "type=%s;size=%d;modify=%s;perm=r; %s\r\n" % (kind, size, when, name)
                yield line.encode("utf8", "replace")
            else:
                yield from super().format_mlsx(basedir, [name], perms, facts, ignore_err)


class DosFS(FaultFS):
    """LIST in the fixed columns of DOS/IIS-style servers."""

    def _real_list_lines(self, basedir, name, ignore_err):
        try:
            st = self.lstat(os.path.join(basedir, name))
        except OSError:
            if ignore_err:
                return
            raise
        is_dir = stat.S_ISDIR(st.st_mode)
        yield self._dos_line(name, is_dir, st.st_size, st.st_mtime).encode("utf8", "replace")

    def _list_line(self, entry):
        is_dir = is_directory_entry(entry)
        size = int(entry.get("size", HOSTILE_FILE_SIZE))
        return self._dos_line(entry["name"], is_dir, size, HOSTILE_MTIME)

    @staticmethod
    def _dos_line(name, is_dir, size, mtime):
        t = time.gmtime(mtime)
        hour = t.tm_hour % 12 or 12
        stamp = "%02d-%02d-%02d  %02d:%02d%s" % (
            t.tm_mon, t.tm_mday, t.tm_year % 100, hour, t.tm_min, "PM" if t.tm_hour >= 12 else "AM")
        middle = "       <DIR>          " if is_dir else " %20d " % size
        return stamp + middle + name + "\r\n"


class FaultDTPMixin:
    """Data channel that obeys the transfer plan: cut after N bytes, throttled, or a different final reply."""

    plan = None
    _pause_timer = None
    _throttle_started = None

    def _take_plan(self):
        if self.plan is None:
            self.plan = getattr(self.cmd_channel, "transfer_plan", None) or TransferPlan({"command": ""})
            rate = self.plan.bytes_per_second
            if rate:
                # Small chunks keep a throttled transfer smooth instead of bursty.
                chunk = max(1, min(65536, rate // 8))
                self.ac_out_buffer_size = chunk
                self.ac_in_buffer_size = chunk

    def use_sendfile(self):
        self._take_plan()
        if self.plan.drop_after is not None or self.plan.bytes_per_second or self.plan.endless:
            return False
        return super().use_sendfile()

    def push(self, data):
        self._take_plan()
        if self._remaining_before_drop() == 0:
            self._drop()
            return
        super().push(data)

    def push_with_producer(self, producer):
        self._take_plan()
        if self._remaining_before_drop() == 0:
            self._drop()
            return
        if self.plan.endless:
            super().push_with_producer(producer)
            producer = EndlessProducer(b"\xff" * 65536)
        super().push_with_producer(producer)

    def enable_receiving(self, type, cmd):
        self._take_plan()
        super().enable_receiving(type, cmd)
        if self._remaining_before_drop() == 0:
            self._drop()

    def _remaining_before_drop(self):
        if self.plan is None or self.plan.drop_after is None:
            return None
        return max(0, self.plan.drop_after - self.get_transmitted_bytes())

    def send(self, data):
        remaining = self._remaining_before_drop()
        if remaining is not None:
            if remaining == 0:
                self._drop()
                return 0
            data = data[:remaining]
        sent = super().send(data)
        self._throttle(sent)
        if self._remaining_before_drop() == 0:
            self._drop()
        return sent

    def recv(self, buffer_size):
        remaining = self._remaining_before_drop()
        if remaining == 0:
            self._drop()
            return b""
        if remaining is not None:
            buffer_size = min(buffer_size, remaining)
        chunk = super().recv(buffer_size)
        self._throttle(len(chunk))
        return chunk

    def handle_read(self):
        super().handle_read()
        if self._remaining_before_drop() == 0 and not self._closed:
            self._drop()

    handle_read_event = handle_read

    def _drop(self):
        if self._closed:
            return
        if self.plan.drop_reset:
            try:
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            except OSError:
                pass
        if self.plan.drop_unclean:
            self._error = True  # makes pyftpdlib's TLS connection close without its close_notify
        self.transfer_finished = False
        self._resp = (self.plan.drop_reply, logger.info)
        self.close()

    def _throttle(self, count):
        rate = self.plan.bytes_per_second if self.plan else 0
        if not rate or count <= 0 or self._closed:
            return
        now = time.monotonic()
        if self._throttle_started is None:
            self._throttle_started = now
        due = self._throttle_started + self.get_transmitted_bytes() / rate
        if due > now:
            self.del_channel()
            self._pause_timer = self.ioloop.call_later(due - now, self._resume, _errback=self.handle_error)

    def _resume(self):
        self._pause_timer = None
        if not self._closed:
            self.add_channel(events=self.ioloop.READ if self.receive else self.ioloop.WRITE)

    def close(self):
        if self._pause_timer is not None and not self._pause_timer.cancelled:
            self._pause_timer.cancel()
        if not self._closed and self.plan is not None and self.plan.final_reply:
            if self._resp and self._resp[0].startswith("226"):
                self._resp = (self.plan.final_reply, logger.info)
        super().close()


class FaultHandlerMixin:
    """Control connection: logs every command line, then lets the fault hooks act before pyftpdlib does."""

    faults = None  # FaultBook, shared by all connections
    command_log = None  # open file or None
    system_reply = None  # SYST answer, None for pyftpdlib's own
    transfer_plan = None

    def pre_process_command(self, line, cmd, arg):
        if self.command_log is not None:
            self.command_log.write(line + "\n")
            self.command_log.flush()
        self.faults.refresh()
        context = self._context(cmd, arg)
        rule = self.faults.take("delay", context)
        if rule is not None:
            self.ioloop.call_later(float(rule.get("seconds", 1)), self._process_command, line, cmd, arg,
                                   context, _errback=self.handle_error)
            return
        self._process_command(line, cmd, arg, context)

    def _process_command(self, line, cmd, arg, context):
        if self._closed:
            return
        if self._apply_control_faults(context):
            return
        if cmd in DATA_COMMANDS:
            self.transfer_plan = self._plan_transfer(context)
        super().pre_process_command(line, cmd, arg)

    def _context(self, cmd, arg):
        cwd = self.fs.cwd if self.fs is not None else "/"
        listed = arg if not (cmd == "LIST" and arg.startswith("-")) else ""
        if self.fs is not None and listed:
            path = self.fs.ftpnorm(listed)
        elif listed:
            path = normalized_dir(listed)
        else:
            path = cwd
        name = posixpath.basename(arg.rstrip("/")) if arg else ""
        return {"command": cmd, "arg": arg, "name": name, "cwd": cwd, "path": path}

    def _apply_control_faults(self, context):
        """True when a fault answered (or swallowed) the command."""
        faults = self.faults
        rule = faults.take("drop_control", context)
        if rule is not None:
            self._drop_control(rule)
            return True
        if faults.take("silence", context) is not None:
            return True
        rule = faults.take("drip_reply", context)
        if rule is not None:
            self._drip_reply(rule)
            return True
        if context["command"] == "PASS":
            rule = faults.take("refuse_login", context)
            if rule is not None:
                self.respond(reply_of(rule, 530, "Login incorrect."))
                return True
        rule = faults.take("fail", context)
        if rule is not None:
            self.respond(reply_of(rule, 550, "Requested action not taken."))
            return True
        if context["command"] in TRANSFER_COMMANDS:
            rule = faults.take("transfer_error", context, lambda r: r.get("when", "before") == "before")
            if rule is not None:
                self.respond(reply_of(rule, 550, "Permission denied."))
                return True
        return False

    def _drop_control(self, rule):
        if "code" in rule or "text" in rule:
            self.push(reply_of(rule, 421, "Service not available, closing control connection.") + "\r\n")
            self.close_when_done()
            return
        if rule.get("reset"):
            try:
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            except OSError:
                pass
        self.close()

    def _drip_reply(self, rule):
        """Continuation lines of a reply that never ends: one every "every" seconds, or as fast as the
        client reads them when "every" is 0."""
        line = "%03d-%s\r\n" % (int(rule.get("code", 211)), rule.get("text", "Still working."))
        every = float(rule.get("every", 0))
        if every <= 0:
            self.push_with_producer(EndlessProducer(line.encode() * 1024))
            return

        def send():
            if self._closed:
                timer.cancel()
            else:
                self.push(line)

        timer = self.ioloop.call_every(every, send, _errback=self.handle_error)

    def _plan_transfer(self, context):
        faults = self.faults
        plan = TransferPlan(context)
        rule = faults.take("drop_data", context)
        if rule is not None:
            plan.drop_after = max(0, int(rule.get("after_bytes", 0)))
            plan.drop_reply = reply_of(rule, 426, "Connection closed; transfer aborted.")
            plan.drop_reset = bool(rule.get("reset", False))
            plan.drop_unclean = bool(rule.get("unclean", False))
        rule = faults.take("throttle", context)
        if rule is not None:
            plan.bytes_per_second = max(0, int(rule.get("bytes_per_second", 0)))
        if context["command"] == "RETR":
            plan.endless = faults.take("endless_data", context) is not None
        if context["command"] in TRANSFER_COMMANDS:
            rule = faults.take("transfer_error", context, lambda r: r.get("when", "before") == "after")
            if rule is not None:
                plan.final_reply = reply_of(rule, 451, "Requested action aborted: local error in processing.")
        if context["command"] in LISTING_COMMANDS:
            rule = faults.take("truncate_listing", context)
            if rule is not None:
                plan.truncate_to = max(0, int(rule.get("keep", 0)))
            plan.no_size = faults.take("no_size", context) is not None
            rule = faults.take("hostile_entries", context)
            if rule is not None:
                plan.hostile = self._hostile_entries(rule)
            plan.no_times = faults.take("no_times", context) is not None
        return plan

    @staticmethod
    def _hostile_entries(rule):
        entries = rule.get("entries")
        if entries is None:
            return [dict(entry) for entry in DEFAULT_HOSTILE_ENTRIES]
        result = []
        for entry in entries:
            if isinstance(entry, str):
                result.append({"name": entry, "type": "file"})
            elif isinstance(entry, dict) and "name" in entry:
                result.append(entry)
        return result

    def ftp_SYST(self, line):
        if self.system_reply:
            self.respond(self.system_reply)
        else:
            super().ftp_SYST(line)


def make_self_signed_pem(folder):
    """A throw-away certificate for 127.0.0.1, so that tests need no key material in the repository."""
    from OpenSSL import crypto

    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    cert = crypto.X509()
    cert.get_subject().CN = "127.0.0.1"
    cert.set_serial_number(int(time.time()))
    cert.gmtime_adj_notBefore(-3600)
    cert.gmtime_adj_notAfter(365 * 24 * 3600)
    cert.set_issuer(cert.get_subject())
    cert.set_pubkey(key)
    cert.sign(key, "sha256")
    fd, path = tempfile.mkstemp(prefix="ftpserver-", suffix=".pem", dir=folder)
    with os.fdopen(fd, "wb") as f:
        f.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
    atexit.register(os.unlink, path)
    return path


def build_handler(args):
    base_handler, base_dtp = FTPHandler, DTPHandler
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        base_handler, base_dtp = TLS_FTPHandler, TLS_DTPHandler
    dtp = type("FaultDTPHandler", (FaultDTPMixin, base_dtp), {})
    handler = type("FaultFTPHandler", (FaultHandlerMixin, base_handler), {})
    handler.dtp_handler = dtp
    if args.tls_cert:
        from OpenSSL import SSL

        handler.certfile = args.tls_cert
        context = handler.get_ssl_context()
        if args.tls_max == "1.2":
            context.set_max_proto_version(SSL.TLS1_2_VERSION)
        if args.tls_session_timeout:
            context.set_timeout(args.tls_session_timeout)  # also the lifetime of TLS 1.3 tickets
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, args.root, perm="elradfmwMT")
    handler.authorizer = authorizer
    handler.banner = "Kavrel test server ready (%s)." % args.listing
    handler.auth_failed_timeout = 0  # tests of a refused login need not wait
    handler.faults = FaultBook(args.faults)
    if args.command_log:
        handler.command_log = open(args.command_log, "a", encoding="utf-8", errors="replace")
    handler.abstracted_fs = FaultFS
    if args.listing in ("unix", "dos"):
        # Like vsftpd and IIS: no MLSD/MLST at all, so FEAT does not offer them and they get 500.
        handler.proto_cmds = {k: v for k, v in proto_cmds.items() if k not in ("MLSD", "MLST")}
    if args.listing == "dos":
        handler.system_reply = "215 Windows_NT"
        handler.abstracted_fs = DosFS
    return handler


def die_with_parent(server):
    """No orphans: exit as soon as the process that started us is gone."""
    parent = os.getppid()
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        pr_set_pdeathsig = 1
        libc.prctl(pr_set_pdeathsig, signal.SIGTERM, 0, 0, 0)
    except (OSError, AttributeError):
        pass
    if os.getppid() != parent:
        sys.exit(0)

    def check():
        if os.getppid() != parent:
            raise SystemExit(0)

    server.ioloop.call_every(0.5, check)


def parse_args(argv):
    parser = argparse.ArgumentParser(description="FTP server for Kavrel's tests and demo")
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--listing", choices=("mlsd", "unix", "dos"), default="mlsd")
    parser.add_argument("--faults")
    parser.add_argument("--command-log")
    parser.add_argument("--tls", action="store_true", help="offer AUTH TLS with a self-signed certificate")
    parser.add_argument("--tls-cert", help="PEM file with certificate and key; offers AUTH TLS")
    parser.add_argument("--tls-max", choices=("1.2", "1.3"), default="1.3", help="highest TLS version")
    parser.add_argument("--tls-session-timeout", type=int, help="seconds a TLS session can be resumed")
    args = parser.parse_args(argv)
    try:
        if not ipaddress.ip_address(args.host).is_loopback:
            parser.error("--host must be a loopback address")
    except ValueError:
        parser.error("--host must be a numeric loopback address")
    if not os.path.isdir(args.root):
        parser.error("--root %s is not a folder" % args.root)
    args.root = os.path.realpath(args.root)
    return args


def main(argv):
    args = parse_args(argv)
    # A stop by process id (SIGTERM) ends the server the orderly way, so its temporary files go too.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(0))
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr, format="ftpserver: %(message)s")
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    if args.tls and not args.tls_cert:
        args.tls_cert = make_self_signed_pem(None)
    handler = build_handler(args)
    server = FTPServer((args.host, args.port), handler, backlog=128)
    server.max_cons = 1024
    die_with_parent(server)
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    server.serve_forever(timeout=0.5, handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
