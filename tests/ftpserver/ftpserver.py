#!/usr/bin/python3
"""A real FTP server for Kavrel's tests and demo, on Debian's pyftpdlib.

Serves one root folder on a loopback address to the user "admin" (password "tamsk") with full
rights. It lists the way the three kinds of server a backup tool meets list (MLSD offered, Unix LIST
only, DOS/IIS LIST), and it misbehaves on request: the fault hooks are read from a JSON file before
every command, so a test can change them while a client is connected. README.md lists the hooks.

Run with /usr/bin/python3 (the module lives in Debian's python3-pyftpdlib):
    ftpserver.py --root DIR [--port 0] [--host 127.0.0.1] [--listing mlsd|unix|dos]
                 [--faults FILE] [--command-log FILE] [--tls-cert PEM]
                 [--tls-max 1.2] [--tls-session-timeout SECONDS]
When it listens it prints "PORT <n>" on a line of its own. It exits when its parent process ends.
"""

import argparse
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
INJECTED_SIZE = 1234
INJECTED_MTIME = 1780000000  # a fixed date, so that listings are reproducible
FAULT_KEYS = ("fail", "transfer_error", "drop_data", "drop_control", "silence", "truncate_listing",
              "hostile_entries", "throttle", "refuse_login", "no_times", "delay", "drip_reply", "endless_data",
              "no_size", "vanish", "grow", "short_store", "mute_end", "listed_times",
              "hold_end", "data_certificate")

logger = logging.getLogger("ftpserver")


def warn(text):
    sys.stderr.write("ftpserver: %s\n" % text)
    sys.stderr.flush()


def set_reset_on_close(sock):
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass


class FaultBook:
    """The fault hooks of the JSON file, re-read whenever its content changes (which also starts every
    "times" counter afresh). A rule matches a command by its optional "command" and "name" fields."""

    def __init__(self, path):
        self.path = path
        self.content = b""
        self.rules = {}
        self.fired = {}

    def refresh(self):
        try:
            with open(self.path, "rb") as f:
                content = f.read()
        except (OSError, TypeError):
            content = b""
        if content == self.content:
            return
        self.content, self.rules, self.fired = content, {}, {}
        try:
            data = json.loads(content.decode("utf-8") or "{}")
        except ValueError as err:
            warn("fault file %s unreadable, no faults active: %s" % (self.path, err))
            return
        for key, value in data.items():
            if key.startswith("_") or value in (None, False):
                continue  # comments and the fixture's generation counter
            if key not in FAULT_KEYS:
                warn("unknown fault key %r ignored" % key)
                continue
            if value is True:
                value = {}
            elif isinstance(value, (int, float)):
                value = {"bytes_per_second": value}  # "throttle": a rate for every transfer
            self.rules[key] = value if isinstance(value, list) else [value]

    def take(self, key, context, when=None):
        """The first rule of key that matches and still has uses left; its use is counted."""
        command, name = context
        for index, rule in enumerate(self.rules.get(key, [])):
            if str(rule.get("command", command)).upper() != command or rule.get("name", name) != name:
                continue
            if when is not None and rule.get("when", "before") != when:
                continue
            seen, skip = self.fired.get((key, index), 0), int(rule.get("skip", 0))
            if seen >= skip + int(rule.get("times", seen + 1)):
                continue
            self.fired[(key, index)] = seen + 1
            if seen >= skip:  # the first "skip" matching commands pass untouched
                return rule
        return None


def reply_of(rule, default_code, default_text):
    return "%03d %s" % (int(rule.get("code", default_code)), rule.get("text", default_text))


class TransferPlan:
    """What the faults do to one data transfer; made when its command arrives, read by the data channel."""

    def __init__(self, command):
        self.command = command
        self.drop_after = None  # bytes after which the data connection is cut
        self.drop_rule = {}  # its reply, and whether the cut is a reset or (TLS) without close_notify
        self.bytes_per_second = 0  # throttle; 0 = full speed
        self.final_reply = None  # replaces "226 Transfer complete." after a complete transfer
        self.truncate_to = None  # listings: entries kept
        self.injected = {}  # listings: extra entries by name, each {"name", "type", "size"}
        self.no_times = False  # MLSD: leave out the modify fact
        self.no_size = False  # MLSD: file entries without their size fact
        self.time_shift = 0  # listings: seconds added to every listed time (a server clock that is off)
        self.time_fixed = None  # listings: the one time listed for every entry
        self.endless = False  # RETR: the file's bytes, then more bytes without end
        self.keep_bytes = None  # STOR: bytes of the upload the server keeps (it still answers 226)
        self.mute_end = False  # no final reply at all, whatever ends the transfer
        self.hold_end = False  # the final reply waits for the client's next command line


class EndlessProducer:
    """The same block without end, whenever the socket takes more."""

    def __init__(self, block):
        self.block = block

    def more(self):
        return self.block


def is_directory(entry):
    return entry.get("type") in ("dir", "cdir", "pdir")


class ListedStat:
    """A stat result whose modification time is the one a listing shows."""

    def __init__(self, st, mtime):
        self._st, self.st_mtime = st, mtime

    def __getattr__(self, name):
        return getattr(self._st, name)


class FaultFS(AbstractedFS):
    """Listings with the injected entries, the truncation and the listed times of the current transfer plan."""

    def _plan(self):
        plan = getattr(self.cmd_channel, "transfer_plan", None)
        return plan if plan is not None and plan.command in LISTING_COMMANDS else None

    def _listed(self, st):
        plan = self._plan()
        if plan is None or (plan.time_fixed is None and not plan.time_shift):
            return st
        return ListedStat(st, plan.time_fixed if plan.time_fixed is not None else st.st_mtime + plan.time_shift)

    def stat(self, path):
        return self._listed(super().stat(path))

    def lstat(self, path):
        return self._listed(super().lstat(path))

    def _injected(self):
        plan = self._plan()
        return plan.injected if plan else {}

    def listdir(self, path):
        names = super().listdir(path)
        plan = self._plan()
        if plan is None:
            return sorted(names)
        names = sorted(names + list(plan.injected))
        if plan.truncate_to is not None and len(names) > plan.truncate_to:
            names = names[: plan.truncate_to]
            plan.final_reply = "226 Output truncated to %d matches" % plan.truncate_to
        return names

    def format_list(self, basedir, listing, ignore_err=True):
        injected = self._injected()
        if not injected and type(self) is FaultFS:
            yield from super().format_list(basedir, listing, ignore_err)
            return
        for name in listing:
            if name in injected:
                yield self._list_line(injected[name]).encode("utf8", "replace")
            else:
                yield from self._real_list_lines(basedir, name, ignore_err)

    def _real_list_lines(self, basedir, name, ignore_err):
        yield from super().format_list(basedir, [name], ignore_err)

    def _list_line(self, entry):
        mode, size = ("drwxr-xr-x", 4096) if is_directory(entry) else ("-rw-r--r--", entry.get("size", INJECTED_SIZE))
        when = time.strftime("%b %d %H:%M", time.gmtime(INJECTED_MTIME))
        return "%s %3s %-8s %-8s %8s %s %s\r\n" % (mode, 1, "owner", "group", size, when, entry["name"])

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        plan = self._plan()
        if plan is not None:
            facts = [f for f in facts if not (f == "modify" and plan.no_times or f == "size" and plan.no_size)]
        injected = self._injected()
        if not injected:
            yield from super().format_mlsx(basedir, listing, perms, facts, ignore_err)
            return
        when = time.strftime("%Y%m%d%H%M%S", time.gmtime(INJECTED_MTIME))
        for name in listing:
            entry = injected.get(name)
            if entry is None:
                yield from super().format_mlsx(basedir, [name], perms, facts, ignore_err)
            elif is_directory(entry):
                # "cdir"/"pdir" as some servers mark "." and ".."; plain "dir" is the harder case.
                yield ("type=%s;modify=%s;perm=el; %s\r\n" % (entry["type"], when, name)).encode()
            else:
                # A type such as "OS.unix=slink:/x" makes a link that lists its own size.
                yield ("type=%s;size=%d;modify=%s;perm=r; %s\r\n" % (
                    entry.get("type", "file"), entry.get("size", INJECTED_SIZE), when, name)).encode()


class DosFS(FaultFS):
    """LIST in the fixed columns of DOS/IIS-style servers."""

    def _real_list_lines(self, basedir, name, ignore_err):
        st = self.lstat(os.path.join(basedir, name))
        yield self._dos_line(name, stat.S_ISDIR(st.st_mode), st.st_size, st.st_mtime).encode("utf8", "replace")

    def _list_line(self, entry):
        return self._dos_line(entry["name"], is_directory(entry), entry.get("size", INJECTED_SIZE), INJECTED_MTIME)

    @staticmethod
    def _dos_line(name, is_dir, size, mtime):
        t = time.gmtime(mtime)
        stamp = "%02d-%02d-%02d  %02d:%02d%s" % (t.tm_mon, t.tm_mday, t.tm_year % 100, t.tm_hour % 12 or 12,
                                                 t.tm_min, "PM" if t.tm_hour >= 12 else "AM")
        return stamp + ("       <DIR>          " if is_dir else " %20d " % size) + name + "\r\n"


class FaultDTPMixin:
    """Data channel that obeys the transfer plan: cut after N bytes, throttled, or a different final reply."""

    plan = None
    _pause_timer = None
    _throttle_started = None

    def readable(self):
        # A refused upload's data connection, left open and unread as vsftpd leaves it.
        if getattr(self.cmd_channel, "hold_data", False):
            return False
        return super().readable()

    def secure_connection(self, ssl_context):
        """A data connection that shows another certificate than the control connection."""
        rule = self.cmd_channel.faults.take("data_certificate", ("", ""))
        if rule is not None:
            from OpenSSL import SSL

            ssl_context = SSL.Context(SSL.TLS_SERVER_METHOD)
            ssl_context.use_certificate_chain_file(rule["pem"])
            ssl_context.use_privatekey_file(rule["pem"])
        super().secure_connection(ssl_context)

    def _take_plan(self):
        if self.plan is None:
            self.plan = getattr(self.cmd_channel, "transfer_plan", None) or TransferPlan("")
            if self.plan.bytes_per_second:
                # Small chunks keep a throttled transfer smooth instead of bursty.
                chunk = max(1, min(65536, self.plan.bytes_per_second // 8))
                self.ac_out_buffer_size = self.ac_in_buffer_size = chunk

    def use_sendfile(self):
        self._take_plan()
        plan = self.plan
        return plan.drop_after is None and not plan.bytes_per_second and not plan.endless and super().use_sendfile()

    def _dropped_at_start(self):
        self._take_plan()
        if self._remaining_before_drop() == 0:
            self._drop()
            return True
        return False

    def push(self, data):
        if not self._dropped_at_start():
            super().push(data)

    def push_with_producer(self, producer):
        if self._dropped_at_start():
            return
        if self.plan.endless:
            super().push_with_producer(producer)
            producer = EndlessProducer(b"\xff" * 65536)
        super().push_with_producer(producer)

    def enable_receiving(self, type, cmd):
        self._take_plan()
        super().enable_receiving(type, cmd)
        self._dropped_at_start()

    def _remaining_before_drop(self):
        if self.plan is None or self.plan.drop_after is None:
            return None
        return max(0, self.plan.drop_after - self.get_transmitted_bytes())

    def send(self, data):
        remaining = self._remaining_before_drop()
        if remaining == 0:
            self._drop()
            return 0
        sent = super().send(data if remaining is None else data[:remaining])
        self._throttle(sent)
        if self._remaining_before_drop() == 0:
            self._drop()
        return sent

    def recv(self, buffer_size):
        remaining = self._remaining_before_drop()
        if remaining == 0:
            self._drop()
            return b""
        chunk = super().recv(buffer_size if remaining is None else min(buffer_size, remaining))
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
        rule = self.plan.drop_rule
        if rule.get("reset"):
            set_reset_on_close(self.socket)
        if rule.get("unclean"):
            self._error = True  # makes pyftpdlib's TLS connection close without its close_notify
        self.transfer_finished = False
        self._resp = (reply_of(rule, 426, "Connection closed; transfer aborted."), logger.info)
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
        kept = self.plan.keep_bytes if self.plan else None
        if kept is not None and self.receive and self.file_obj is not None and not self.file_obj.closed:
            self.file_obj.flush()
            self.file_obj.truncate(min(kept, self.file_obj.tell()))
        if not self._closed and self.plan is not None and self.plan.final_reply:
            if self._resp and self._resp[0].startswith("226"):
                self._resp = (self.plan.final_reply, logger.info)
        if self.plan is not None and self.plan.mute_end:
            self._resp = None
        if self.plan is not None and self.plan.hold_end and self._resp:
            self.cmd_channel.held_reply, self._resp = self._resp[0], None
        super().close()


class FaultHandlerMixin:
    """Control connection: logs every command line, then lets the fault hooks act before pyftpdlib does."""

    faults = None  # FaultBook, shared by all connections
    command_log = None  # open file or None
    system_reply = None  # SYST answer, None for pyftpdlib's own
    transfer_plan = None
    held_reply = None

    def pre_process_command(self, line, cmd, arg):
        if self.held_reply:
            self.respond(self.held_reply)
            self.held_reply = None
        if self.command_log is not None:
            self.command_log.write(line + "\n")
            self.command_log.flush()
        self.faults.refresh()
        context = (cmd, posixpath.basename(arg.rstrip("/")) if arg else "")
        rule = self.faults.take("delay", context)
        if rule is None:
            self._process_command(line, cmd, arg, context)
        else:
            self.ioloop.call_later(float(rule.get("seconds", 1)), self._process_command, line, cmd, arg, context,
                                   _errback=self.handle_error)

    def _process_command(self, line, cmd, arg, context):
        self.hold_data = False
        if self._closed or self._apply_control_faults(context):
            return
        if cmd in LISTING_COMMANDS + TRANSFER_COMMANDS:
            self.transfer_plan = self._plan_transfer(context)
        if cmd == "RETR" and arg and self.authenticated:
            self._change_before_retr(context, self.fs.ftp2fs(arg))
        super().pre_process_command(line, cmd, arg)

    def _change_before_retr(self, context, path):
        """A server in use: the file of a RETR deleted, or grown (a message still being recorded)."""
        if self.faults.take("vanish", context) is not None:
            os.remove(path)
        rule = self.faults.take("grow", context)
        if rule is not None:
            with open(path, "ab") as f:
                f.write(b"+" * int(rule.get("bytes", 1000)))

    def _apply_control_faults(self, context):
        """True when a fault answered (or swallowed) the command."""
        take, command = self.faults.take, context[0]
        rule = take("drop_control", context)
        if rule is not None:
            if "code" in rule or "text" in rule:
                self.push(reply_of(rule, 421, "Service not available, closing control connection.") + "\r\n")
                self.close_when_done()
            else:
                self.close()
            return True
        if take("silence", context) is not None:
            return True
        rule = take("drip_reply", context)
        if rule is not None:
            self._drip_reply(rule)
            return True
        rule = take("refuse_login", context) if command == "PASS" else None
        if rule is not None:
            self.respond(reply_of(rule, 530, "Login incorrect."))
            return True
        rule = take("fail", context)
        if rule is not None:
            self.respond(reply_of(rule, 550, "Requested action not taken."))
            return True
        rule = take("transfer_error", context, "before") if command in TRANSFER_COMMANDS else None
        if rule is not None:
            self.hold_data = bool(rule.get("hold_data"))
            self.respond(reply_of(rule, 550, "Permission denied."))
            return True
        return False

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
        take, command = self.faults.take, context[0]
        plan = TransferPlan(command)
        rule = take("drop_data", context)
        if rule is not None:
            plan.drop_after, plan.drop_rule = max(0, int(rule.get("after_bytes", 0))), rule
        rule = take("throttle", context)
        if rule is not None:
            plan.bytes_per_second = max(0, int(rule.get("bytes_per_second", 0)))
        plan.endless = command == "RETR" and take("endless_data", context) is not None
        rule = take("short_store", context) if command in ("STOR", "APPE") else None
        if rule is not None:
            plan.keep_bytes = max(0, int(rule.get("keep", 0)))
        plan.mute_end = take("mute_end", context) is not None
        plan.hold_end = take("hold_end", context) is not None
        rule = take("transfer_error", context, "after") if command in TRANSFER_COMMANDS else None
        if rule is not None:
            plan.final_reply = reply_of(rule, 451, "Requested action aborted: local error in processing.")
        if command in LISTING_COMMANDS:
            rule = take("truncate_listing", context)
            if rule is not None:
                plan.truncate_to = max(0, int(rule.get("keep", 0)))
            rule = take("hostile_entries", context)
            for entry in rule.get("entries", []) if rule else []:
                entry = {"name": entry, "type": "file"} if isinstance(entry, str) else entry
                plan.injected[entry["name"]] = entry
            plan.no_times = take("no_times", context) is not None
            rule = take("listed_times", context)
            if rule is not None:
                plan.time_shift, plan.time_fixed = int(rule.get("shift", 0)), rule.get("fixed")
            plan.no_size = take("no_size", context) is not None
        return plan

    def ftp_SYST(self, line):
        if self.system_reply:
            self.respond(self.system_reply)
        else:
            super().ftp_SYST(line)


def build_handler(args):
    base_handler, base_dtp = FTPHandler, DTPHandler
    if args.tls_cert:
        from OpenSSL import SSL
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        base_handler, base_dtp = TLS_FTPHandler, TLS_DTPHandler
    handler = type("FaultFTPHandler", (FaultHandlerMixin, base_handler), {})
    handler.dtp_handler = type("FaultDTPHandler", (FaultDTPMixin, base_dtp), {})
    if args.tls_cert:
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
    handler.abstracted_fs = DosFS if args.listing == "dos" else FaultFS
    if args.listing != "mlsd":
        # Like vsftpd and IIS: no MLSD/MLST at all, so FEAT does not offer them and they get 500.
        handler.proto_cmds = {k: v for k, v in proto_cmds.items() if k not in ("MLSD", "MLST")}
    if args.listing == "dos":
        handler.system_reply = "215 Windows_NT"
    return handler


def die_with_parent():
    """No orphans: the kernel ends us when the process that started us goes."""
    parent = os.getppid()
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGTERM, 0, 0, 0)
    if os.getppid() != parent:
        sys.exit(0)  # it went before the request was made


def parse_args(argv):
    parser = argparse.ArgumentParser(description="FTP server for Kavrel's tests and demo")
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--listing", choices=("mlsd", "unix", "dos"), default="mlsd")
    parser.add_argument("--faults")
    parser.add_argument("--command-log")
    parser.add_argument("--tls-cert", help="PEM file with certificate and key; offers AUTH TLS")
    parser.add_argument("--tls-max", choices=("1.2", "1.3"), default="1.3", help="highest TLS version")
    parser.add_argument("--tls-session-timeout", type=int, help="seconds a TLS session can be resumed")
    parser.add_argument("--max-logins", type=int, default=0, help="connections one address may hold (421 past)")
    args = parser.parse_args(argv)
    try:
        loopback = ipaddress.ip_address(args.host).is_loopback
    except ValueError:
        loopback = False
    if not loopback:
        parser.error("--host must be a numeric loopback address")
    if not os.path.isdir(args.root):
        parser.error("--root %s is not a folder" % args.root)
    args.root = os.path.realpath(args.root)
    return args


def main(argv):
    args = parse_args(argv)
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(0))
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr, format="ftpserver: %(message)s")
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    server = FTPServer((args.host, args.port), build_handler(args), backlog=128)
    server.max_cons = 1024
    server.max_cons_per_ip = args.max_logins
    die_with_parent()
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    server.serve_forever(timeout=None, handle_exit=True)  # each timer (drip, delay, throttle) on time
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
