#!/usr/bin/python3
"""The test server itself: every listing mode and every fault hook does what README.md says.

Run with /usr/bin/python3 (ctest does); each test starts its own server on 127.0.0.1, port 0.
"""

import calendar
import ftplib
import json
import os
import re
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "ftpserver.py")
PYTHON = "/usr/bin/python3"
USER, PASSWORD = "admin", "tamsk"
WAIT = 10.0


def utc(text):
    """Seconds since the epoch for "YYYY-MM-DD HH:MM" in UTC."""
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M"))


class Server:
    """One server process on a fresh temporary root, stopped by its process id."""

    def __init__(self, listing="mlsd", extra=()):
        self.work = tempfile.TemporaryDirectory(prefix="ftpserver-test-")
        self.root = os.path.join(self.work.name, "root")
        os.mkdir(self.root)
        self.faults_path = os.path.join(self.work.name, "faults.json")
        self.log_path = os.path.join(self.work.name, "commands.log")
        self.stderr_path = os.path.join(self.work.name, "stderr.txt")
        self.generation = 0
        self.stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(
            [PYTHON, SERVER, "--root", self.root, "--port", "0", "--listing", listing,
             "--faults", self.faults_path, "--command-log", self.log_path, *extra],
            stdout=subprocess.PIPE, stderr=self.stderr)
        line = self.process.stdout.readline().decode()
        match = re.fullmatch(r"PORT (\d+)\n", line)
        if not match:
            self.stop()
            raise RuntimeError("server did not report its port: %r" % line)
        self.port = int(match.group(1))

    def stop(self):
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                os.kill(self.process.pid, signal.SIGKILL)
                self.process.wait(5)
        self.process.stdout.close()
        self.stderr.close()
        self.work.cleanup()

    def set_faults(self, faults):
        self.generation += 1
        content = dict(faults, _generation=self.generation)
        temporary = self.faults_path + ".tmp"
        with open(temporary, "w") as f:
            json.dump(content, f)
        os.replace(temporary, self.faults_path)

    def commands(self):
        try:
            with open(self.log_path) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def warnings(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def file(self, relative, content=b"", mtime=None):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        if mtime is not None:
            os.utime(path, (mtime, mtime))
        return path

    def folder(self, relative, mtime=None):
        path = os.path.join(self.root, relative)
        os.makedirs(path, exist_ok=True)
        if mtime is not None:
            os.utime(path, (mtime, mtime))
        return path

    def client(self, login=True, timeout=WAIT):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.port, timeout=timeout)
        if login:
            ftp.login(USER, PASSWORD)
        return ftp


def listing(ftp, command):
    lines = []
    reply = ftp.retrlines(command, lines.append)
    return lines, reply


def retrieve(ftp, name):
    chunks = []
    reply = ftp.retrbinary("RETR " + name, chunks.append)
    return b"".join(chunks), reply


def mlsd_names(lines):
    return [line.split(" ", 1)[1] for line in lines]


def unix_names(lines):
    return [re.split(r"\s+", line, maxsplit=8)[8] for line in lines]


def dos_names(lines):
    return [line[39:] for line in lines]


def raw_data_command(ftp, command, payload=None):
    """Runs a data command by hand: the data bytes read (or the bytes sent) and the final reply.

    ftplib gives up on the data connection's errors; here the test sees what a client sees."""
    ftp.sendcmd("TYPE I")
    host, port = ftp.makepasv()
    data = socket.create_connection((host, port), timeout=WAIT)
    first = ftp.sendcmd(command)
    received = bytearray()
    sent = 0
    try:
        if payload is None:
            while True:
                chunk = data.recv(65536)
                if not chunk:
                    break
                received += chunk
        else:
            view = memoryview(payload)
            while sent < len(payload):
                sent += data.send(view[sent:sent + 65536])
    except OSError:
        pass
    finally:
        data.close()
    return first, bytes(received), sent, ftp.getmultiline()


class ServerTestCase(unittest.TestCase):
    listing_mode = "mlsd"
    extra = ()

    def setUp(self):
        self.server = Server(self.listing_mode, self.extra)
        self.addCleanup(self.server.stop)
        self.clients = []

    def client(self, **kwargs):
        ftp = self.server.client(**kwargs)
        self.clients.append(ftp)
        self.addCleanup(ftp.close)
        return ftp


class MlsdModeTest(ServerTestCase):
    def test_offers_and_answers_mlsd(self):
        self.server.file("PMT/p1.wav", b"x" * 1234)
        self.server.folder("PMT/SUB1")
        ftp = self.client()
        self.assertEqual(ftp.sendcmd("SYST"), "215 UNIX Type: L8")
        self.assertIn(" MLST ", ftp.sendcmd("FEAT"))
        lines, reply = listing(ftp, "MLSD PMT")
        self.assertTrue(reply.startswith("226"))
        facts = {name: fact for fact, name in (line.split(" ", 1) for line in lines)}
        self.assertEqual(sorted(facts), ["SUB1", "p1.wav"])
        self.assertIn("type=file", facts["p1.wav"])
        self.assertIn("size=1234", facts["p1.wav"])
        self.assertIn("type=dir", facts["SUB1"])

    def test_list_is_unix_format(self):
        self.server.file("DTA/a.dat", b"abcd")
        ftp = self.client()
        lines, _ = listing(ftp, "LIST DTA")
        self.assertEqual(len(lines), 1)
        self.assertRegex(lines[0], r"^-rw\S+\s+\d+ \S+\s+\S+\s+4 \w{3} [ \d]\d ( \d{4}|\d\d:\d\d) a\.dat$")

    def test_nlst_gives_bare_names(self):
        self.server.file("MSG/m1.wav")
        self.server.file("MSG/m2.wav")
        ftp = self.client()
        self.assertEqual(ftp.nlst("MSG"), ["m1.wav", "m2.wav"])

    def test_login_and_files(self):
        ftp = self.client(login=False)
        with self.assertRaises(ftplib.error_perm):
            ftp.login(USER, "wrong")
        ftp = self.client()
        payload = bytes(range(256)) * 500
        ftp.storbinary("STOR up.wav", __import__("io").BytesIO(payload))
        with open(os.path.join(self.server.root, "up.wav"), "rb") as f:
            self.assertEqual(f.read(), payload)
        self.assertEqual(retrieve(ftp, "up.wav")[0], payload)
        ftp.mkd("NEW")
        with self.assertRaises(ftplib.error_perm) as caught:
            ftp.mkd("NEW")
        self.assertTrue(str(caught.exception).startswith("550"))
        with self.assertRaises(ftplib.error_perm):
            ftp.cwd("MISSING")

    def test_command_log_holds_every_line_as_sent(self):
        ftp = self.client()
        ftp.sendcmd("NOOP")
        ftp.sendcmd("CWD /")
        commands = self.server.commands()
        self.assertEqual(commands[:4], ["USER admin", "PASS tamsk", "NOOP", "CWD /"])


class UnixModeTest(ServerTestCase):
    listing_mode = "unix"

    def test_refuses_mlsd_and_mlst_like_vsftpd(self):
        self.server.file("PMT/p1.wav", b"12345")
        ftp = self.client()
        self.assertEqual(ftp.sendcmd("SYST"), "215 UNIX Type: L8")
        self.assertNotIn("MLST", ftp.sendcmd("FEAT"))
        for command in ("MLSD PMT", "MLST PMT/p1.wav"):
            with self.assertRaises(ftplib.error_perm) as caught:
                ftp.sendcmd(command)
            self.assertTrue(str(caught.exception).startswith("500"), command)
        lines, _ = listing(ftp, "LIST PMT")
        self.assertEqual(unix_names(lines), ["p1.wav"])
        self.assertRegex(lines[0], r"^-rw\S+\s+\d+ \S+\s+\S+\s+5 ")


class DosModeTest(ServerTestCase):
    listing_mode = "dos"

    def test_system_and_refusals(self):
        ftp = self.client()
        self.assertEqual(ftp.sendcmd("SYST"), "215 Windows_NT")
        self.assertNotIn("MLST", ftp.sendcmd("FEAT"))
        with self.assertRaises(ftplib.error_perm) as caught:
            ftp.sendcmd("MLSD")
        self.assertTrue(str(caught.exception).startswith("500"))

    def test_fixed_columns(self):
        rows = [
            ("PMT/p1.wav", b"x" * 1234, "2026-12-06 20:19", "12-06-26  08:19PM                 1234 p1.wav"),
            ("PMT/a.dat", b"abcd", "2024-01-02 03:04", "01-02-24  03:04AM                    4 a.dat"),
            ("PMT/mid.wav", b"", "2025-07-09 00:05", "07-09-25  12:05AM                    0 mid.wav"),
            ("PMT/noon.wav", b"", "2025-07-09 12:30", "07-09-25  12:30PM                    0 noon.wav"),
            ("PMT/  two blanks.wav", b"z", "2025-07-09 12:30",
             "07-09-25  12:30PM                    1   two blanks.wav"),
        ]
        for path, content, when, _ in rows:
            self.server.file(path, content, utc(when))
        self.server.folder("PMT/SUB1", utc("2026-12-06 20:19"))
        ftp = self.client()
        lines, reply = listing(ftp, "LIST PMT")
        self.assertTrue(reply.startswith("226"))
        expected = sorted([row[3] for row in rows] + ["12-06-26  08:19PM       <DIR>          SUB1"],
                          key=lambda line: line[39:])
        self.assertEqual(lines, expected)

    def test_nlst_bare(self):
        self.server.file("MSG/m1.wav")
        ftp = self.client()
        self.assertEqual(ftp.nlst("MSG"), ["m1.wav"])


class TransferErrorTest(ServerTestCase):
    def setUp(self):
        super().setUp()
        self.server.file("MSG/m1.wav", b"one")
        self.server.file("MSG/m2.wav", b"two")

    def test_retr_refused_by_name(self):
        self.server.set_faults({"transfer_error": [{"command": "RETR", "name": "m2.wav"}]})
        ftp = self.client()
        ftp.cwd("MSG")
        self.assertEqual(retrieve(ftp, "m1.wav")[0], b"one")
        with self.assertRaises(ftplib.error_perm) as caught:
            retrieve(ftp, "m2.wav")
        self.assertTrue(str(caught.exception).startswith("550"))

    def test_retr_451_and_times(self):
        self.server.set_faults({"transfer_error": {"command": "RETR", "name": "m1.wav", "code": 451,
                                                   "text": "Read error.", "times": 1}})
        ftp = self.client()
        with self.assertRaises(ftplib.error_temp) as caught:
            retrieve(ftp, "MSG/m1.wav")
        self.assertEqual(str(caught.exception), "451 Read error.")
        self.assertEqual(retrieve(ftp, "MSG/m1.wav")[0], b"one")

    def test_stor_refused_leaves_no_file(self):
        self.server.set_faults({"transfer_error": {"command": "STOR", "name": "new.wav", "code": 550}})
        ftp = self.client()
        with self.assertRaises(ftplib.error_perm):
            ftp.storbinary("STOR new.wav", __import__("io").BytesIO(b"data"))
        self.assertFalse(os.path.exists(os.path.join(self.server.root, "new.wav")))

    def test_after_transfer_the_reply_is_the_error(self):
        self.server.set_faults({"transfer_error": {"command": "RETR", "name": "m1.wav", "when": "after"}})
        ftp = self.client()
        first, data, _, final = raw_data_command(ftp, "RETR MSG/m1.wav")
        self.assertRegex(first, "^(125|150) ")
        self.assertEqual(data, b"one")
        self.assertEqual(final, "451 Requested action aborted: local error in processing.")

    def test_stor_after(self):
        self.server.set_faults({"transfer_error": {"command": "STOR", "when": "after", "code": 452,
                                                   "text": "Disk full."}})
        ftp = self.client()
        _, _, sent, final = raw_data_command(ftp, "STOR MSG/m3.wav", b"three")
        self.assertEqual(sent, 5)
        self.assertEqual(final, "452 Disk full.")


class DropDataTest(ServerTestCase):
    def setUp(self):
        super().setUp()
        self.payload = os.urandom(300000)
        self.server.file("MSG/big.wav", self.payload)

    def test_retr_cut_after_n_bytes(self):
        self.server.set_faults({"drop_data": {"command": "RETR", "name": "big.wav", "after_bytes": 100000}})
        ftp = self.client()
        _, data, _, final = raw_data_command(ftp, "RETR MSG/big.wav")
        self.assertEqual(data, self.payload[:100000])
        self.assertTrue(final.startswith("426"), final)

    def test_retr_cut_with_a_lying_reply(self):
        self.server.set_faults({"drop_data": {"command": "RETR", "after_bytes": 7, "code": 226,
                                              "text": "Transfer complete."}})
        ftp = self.client()
        _, data, _, final = raw_data_command(ftp, "RETR MSG/big.wav")
        self.assertEqual(data, self.payload[:7])
        self.assertEqual(final, "226 Transfer complete.")

    def test_retr_cut_at_once_and_with_reset(self):
        self.server.set_faults({"drop_data": [{"command": "RETR", "after_bytes": 0, "times": 1},
                                              {"command": "RETR", "after_bytes": 5000, "reset": True}]})
        ftp = self.client()
        _, data, _, final = raw_data_command(ftp, "RETR MSG/big.wav")
        self.assertEqual(data, b"")
        self.assertTrue(final.startswith("426"))
        _, data, _, final = raw_data_command(ftp, "RETR MSG/big.wav")
        self.assertLessEqual(len(data), 5000)
        self.assertTrue(final.startswith("426"))

    def test_other_files_untouched(self):
        self.server.file("MSG/small.wav", b"small")
        self.server.set_faults({"drop_data": {"command": "RETR", "name": "big.wav", "after_bytes": 10}})
        ftp = self.client()
        self.assertEqual(retrieve(ftp, "MSG/small.wav"), (b"small", "226 Transfer complete."))

    def test_stor_cut_keeps_what_arrived(self):
        self.server.set_faults({"drop_data": {"command": "STOR", "name": "up.wav", "after_bytes": 70000}})
        ftp = self.client()
        _, _, _, final = raw_data_command(ftp, "STOR up.wav", self.payload)
        self.assertTrue(final.startswith("426"), final)
        with open(os.path.join(self.server.root, "up.wav"), "rb") as f:
            self.assertEqual(f.read(), self.payload[:70000])

    def test_listing_cut(self):
        for i in range(50):
            self.server.file("MSG/m%03d.wav" % i)
        self.server.set_faults({"drop_data": {"command": "LIST", "after_bytes": 120}})
        ftp = self.client()
        _, data, _, final = raw_data_command(ftp, "LIST MSG")
        self.assertEqual(len(data), 120)
        self.assertTrue(final.startswith("426"))


class DropControlTest(ServerTestCase):
    def test_dropped_at_chosen_command_and_argument(self):
        self.server.folder("PMT")
        self.server.folder("MSG")
        self.server.set_faults({"drop_control": {"command": "CWD", "arg": "MSG"}})
        ftp = self.client()
        ftp.cwd("PMT")
        ftp.cwd("/")
        with self.assertRaises((EOFError, ConnectionError)):
            ftp.cwd("MSG")
        self.assertIn("CWD MSG", self.server.commands())

    def test_421_before_closing(self):
        self.server.set_faults({"drop_control": {"command": "NOOP", "code": 421, "text": "Timeout."}})
        ftp = self.client()
        with self.assertRaises(ftplib.error_temp) as caught:
            ftp.sendcmd("NOOP")
        self.assertEqual(str(caught.exception), "421 Timeout.")
        with self.assertRaises((EOFError, ConnectionError)):
            ftp.sendcmd("PWD")

    def test_dropped_during_transfer_command_closes_data_too(self):
        self.server.file("big.wav", b"x" * 1000)
        self.server.set_faults({"drop_control": {"command": "RETR"}})
        ftp = self.client()
        ftp.sendcmd("TYPE I")
        host, port = ftp.makepasv()
        data = socket.create_connection((host, port), timeout=WAIT)
        ftp.putcmd("RETR big.wav")
        self.assertEqual(ftp.file.readline(), "")
        self.assertTrue(closed_by_peer(data))
        data.close()


class SilenceTest(ServerTestCase):
    def test_command_never_answered(self):
        self.server.set_faults({"silence": {"command": "PWD", "times": 1}})
        control = socket.create_connection(("127.0.0.1", self.server.port), timeout=WAIT)
        self.addCleanup(control.close)
        replies = control.makefile("rb")
        self.assertTrue(replies.readline().startswith(b"220"))
        control.sendall(b"USER admin\r\nPASS tamsk\r\n")
        self.assertTrue(replies.readline().startswith(b"331"))
        self.assertTrue(replies.readline().startswith(b"230"))
        control.sendall(b"PWD\r\n")
        control.settimeout(1.0)
        with self.assertRaises(socket.timeout):
            control.recv(100)
        control.settimeout(WAIT)
        control.sendall(b"NOOP\r\nPWD\r\n")
        self.assertTrue(replies.readline().startswith(b"200"))
        self.assertTrue(replies.readline().startswith(b"257"))


class TruncateListingTest(ServerTestCase):
    def setUp(self):
        super().setUp()
        for i in range(20):
            self.server.file("MSG/m%02d.wav" % i, b"x")
        self.server.file("DTA/a.dat")

    def test_each_listing_command(self):
        self.server.set_faults({"truncate_listing": {"path": "/MSG", "keep": 5}})
        ftp = self.client()
        expected = ["m%02d.wav" % i for i in range(5)]
        for command, names in (("MLSD MSG", mlsd_names), ("LIST MSG", unix_names), ("NLST MSG", list)):
            lines, reply = listing(ftp, command)
            self.assertEqual(names(lines), expected, command)
            self.assertEqual(reply, "226 Output truncated to 5 matches", command)

    def test_in_current_directory_and_other_directory_whole(self):
        self.server.set_faults({"truncate_listing": {"command": "LIST", "path": "/MSG", "keep": 3}})
        ftp = self.client()
        lines, reply = listing(ftp, "LIST DTA")
        self.assertEqual((len(lines), reply), (1, "226 Transfer complete."))
        ftp.cwd("MSG")
        lines, reply = listing(ftp, "LIST")
        self.assertEqual((len(lines), reply), (3, "226 Output truncated to 3 matches"))

    def test_short_listing_not_marked(self):
        self.server.set_faults({"truncate_listing": {"keep": 20}})
        ftp = self.client()
        lines, reply = listing(ftp, "NLST MSG")
        self.assertEqual((len(lines), reply), (20, "226 Transfer complete."))


class NoTimesTest(ServerTestCase):
    def test_mlsd_without_modify(self):
        self.server.file("DTA/a.dat", b"12")
        self.server.set_faults({"no_times": {"command": "MLSD"}})
        lines, _ = listing(self.client(), "MLSD DTA")
        self.assertEqual(len(lines), 1)
        self.assertTrue("size=2;" in lines[0] and "modify=" not in lines[0], lines[0])


HOSTILE_FILES = ["../x.wav", "..\\x.wav", "a/b.wav", "/abs.wav", "C:x.wav"]


class HostileEntriesTest(ServerTestCase):
    def check(self, command, names, ftp=None):
        self.server.file("PMT/p1.wav", b"1")
        self.server.file("MSG/m1.wav", b"1")
        self.server.set_faults({"hostile_entries": {"path": "/PMT"}})
        ftp = ftp or self.client()
        lines, _ = listing(ftp, command + " PMT")
        self.assertEqual(sorted(names(lines)), sorted(HOSTILE_FILES + [".", "..", "p1.wav"]))
        lines, _ = listing(ftp, command + " MSG")
        self.assertEqual(names(lines), ["m1.wav"])
        return lines

    def test_mlsd(self):
        self.check("MLSD", mlsd_names)

    def test_list_unix(self):
        self.check("LIST", unix_names)

    def test_nlst(self):
        self.check("NLST", list)

    def test_types(self):
        self.server.file("PMT/p1.wav", b"1")
        self.server.set_faults({"hostile_entries": {"path": "/PMT"}})
        ftp = self.client()
        lines, _ = listing(ftp, "MLSD PMT")
        facts = {name: fact for fact, name in (line.split(" ", 1) for line in lines)}
        self.assertIn("type=dir", facts["."])
        self.assertIn("type=dir", facts[".."])
        self.assertIn("type=file", facts["a/b.wav"])
        self.assertIn("size=1234", facts["/abs.wav"])

    def test_marked_current_and_parent(self):
        self.server.set_faults({"hostile_entries": {"entries": [{"name": ".", "type": "cdir"},
                                                                {"name": "..", "type": "pdir"}]}})
        ftp = self.client()
        lines, _ = listing(ftp, "MLSD")
        self.assertEqual(sorted(line.split(";")[0] for line in lines), ["type=cdir", "type=pdir"])
        lines, _ = listing(ftp, "LIST")
        self.assertTrue(all(line.startswith("d") for line in lines))

    def test_own_entries(self):
        self.server.set_faults({"hostile_entries": {"entries": ["sub\\evil.wav", {"name": "SUB", "type": "dir"}]}})
        ftp = self.client()
        lines, _ = listing(ftp, "LIST")
        self.assertEqual(len(lines), 2)
        self.assertTrue(any(line.startswith("d") and line.endswith(" SUB") for line in lines))
        self.assertTrue(any(line.startswith("-") and line.endswith(" sub\\evil.wav") for line in lines))


class HostileEntriesUnixTest(HostileEntriesTest):
    listing_mode = "unix"

    def test_marked_current_and_parent(self):
        self.skipTest("no MLSD in this mode")

    def test_mlsd(self):
        self.skipTest("no MLSD in this mode")

    def test_types(self):
        self.skipTest("no MLSD in this mode")


class HostileEntriesDosTest(HostileEntriesTest):
    listing_mode = "dos"

    def test_marked_current_and_parent(self):
        self.skipTest("no MLSD in this mode")

    def test_mlsd(self):
        self.skipTest("no MLSD in this mode")

    def test_types(self):
        self.server.set_faults({"hostile_entries": True})
        ftp = self.client()
        lines, _ = listing(ftp, "LIST")
        by_name = {line[39:]: line for line in lines}
        self.assertEqual(by_name["."][17:39], "       <DIR>          ")
        self.assertEqual(by_name["..\\x.wav"][17:39], " %20d " % 1234)

    def test_list_unix(self):
        self.check("LIST", dos_names)

    def test_own_entries(self):
        self.skipTest("covered in the Unix format")


class ThrottleTest(ServerTestCase):
    def test_download_is_slowed(self):
        payload = os.urandom(40000)
        self.server.file("slow.wav", payload)
        self.server.set_faults({"throttle": {"name": "slow.wav", "bytes_per_second": 20000}})
        ftp = self.client()
        started = time.monotonic()
        data, _ = retrieve(ftp, "slow.wav")
        self.assertEqual(data, payload)
        self.assertGreaterEqual(time.monotonic() - started, 1.5)

    def test_upload_is_slowed(self):
        self.server.set_faults({"throttle": 20000})
        ftp = self.client()
        payload = os.urandom(30000)
        started = time.monotonic()
        ftp.storbinary("STOR up.wav", __import__("io").BytesIO(payload))
        self.assertGreaterEqual(time.monotonic() - started, 1.0)
        with open(os.path.join(self.server.root, "up.wav"), "rb") as f:
            self.assertEqual(f.read(), payload)


class RefuseLoginTest(ServerTestCase):
    def test_refused_even_with_the_right_password(self):
        self.server.set_faults({"refuse_login": {"code": 530, "text": "Too many users."}})
        ftp = self.client(login=False)
        with self.assertRaises(ftplib.error_perm) as caught:
            ftp.login(USER, PASSWORD)
        self.assertEqual(str(caught.exception), "530 Too many users.")

    def test_default_reply_and_times(self):
        self.server.set_faults({"refuse_login": {"times": 1}})
        ftp = self.client(login=False)
        with self.assertRaises(ftplib.error_perm) as caught:
            ftp.login(USER, PASSWORD)
        self.assertEqual(str(caught.exception), "530 Login incorrect.")
        self.assertTrue(self.client().sendcmd("NOOP").startswith("200"))


class FailTest(ServerTestCase):
    def test_mkd_of_one_directory(self):
        self.server.set_faults({"fail": {"command": "MKD", "arg": "PMT", "text": "Create directory operation failed."}})
        ftp = self.client()
        with self.assertRaises(ftplib.error_perm) as caught:
            ftp.mkd("PMT")
        self.assertEqual(str(caught.exception), "550 Create directory operation failed.")
        self.assertFalse(os.path.exists(os.path.join(self.server.root, "PMT")))
        ftp.mkd("MSG")
        self.assertTrue(os.path.isdir(os.path.join(self.server.root, "MSG")))

    def test_only_in_a_current_directory(self):
        self.server.folder("MSG")
        self.server.set_faults({"fail": {"command": "LIST", "cwd": "/MSG", "code": 450, "text": "No listing."}})
        ftp = self.client()
        listing(ftp, "LIST")
        ftp.cwd("MSG")
        with self.assertRaises(ftplib.error_temp) as caught:
            listing(ftp, "LIST")
        self.assertEqual(str(caught.exception), "450 No listing.")

    def test_cwd_by_path_and_times(self):
        self.server.folder("PMT/SUB1")
        self.server.set_faults({"fail": {"command": "CWD", "path": "/PMT/SUB1", "times": 2}})
        ftp = self.client()
        for target in ("/PMT/SUB1", "PMT/SUB1"):
            with self.assertRaises(ftplib.error_perm):
                ftp.cwd(target)
        ftp.cwd("PMT/SUB1")
        self.assertEqual(ftp.pwd(), "/PMT/SUB1")

    def test_faults_change_during_a_session(self):
        ftp = self.client()
        self.assertTrue(ftp.sendcmd("NOOP").startswith("200"))
        self.server.set_faults({"fail": {"command": "NOOP", "code": 502, "text": "Not now."}})
        with self.assertRaises(ftplib.error_perm):
            ftp.sendcmd("NOOP")
        self.server.set_faults({})
        self.assertTrue(ftp.sendcmd("NOOP").startswith("200"))

    def test_same_faults_again_restart_the_counters(self):
        faults = {"fail": {"command": "NOOP", "times": 1}}
        self.server.set_faults(faults)
        ftp = self.client()
        with self.assertRaises(ftplib.error_perm):
            ftp.sendcmd("NOOP")
        ftp.sendcmd("NOOP")
        self.server.set_faults(faults)
        with self.assertRaises(ftplib.error_perm):
            ftp.sendcmd("NOOP")

    def test_bad_fault_file_is_reported_and_ignored(self):
        with open(self.server.faults_path, "w") as f:
            f.write("{not json")
        ftp = self.client()
        self.assertTrue(ftp.sendcmd("NOOP").startswith("200"))
        self.server.set_faults({"no_such_hook": 1})
        self.assertTrue(ftp.sendcmd("NOOP").startswith("200"))
        warnings = self.server.warnings()
        self.assertIn("unreadable", warnings)
        self.assertIn("no_such_hook", warnings)


class ManyConnectionsTest(ServerTestCase):
    def test_hundreds_of_quick_sessions(self):
        self.server.file("m.wav", b"m" * 2000)
        for _ in range(200):
            ftp = self.server.client()
            self.assertEqual(retrieve(ftp, "m.wav")[0], b"m" * 2000)
            ftp.quit()
            ftp.close()
        many = [self.client() for _ in range(40)]
        for ftp in many:
            self.assertTrue(ftp.sendcmd("NOOP").startswith("200"))


class TlsTest(ServerTestCase):
    extra = ("--tls",)

    def test_auth_tls_and_protected_data(self):
        self.server.file("p.wav", b"secret")
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        ftp = ftplib.FTP_TLS(context=context)
        self.addCleanup(ftp.close)
        ftp.connect("127.0.0.1", self.server.port, timeout=WAIT)
        ftp.auth()
        ftp.login(USER, PASSWORD)
        ftp.prot_p()
        self.assertEqual(retrieve(ftp, "p.wav")[0], b"secret")
        ftp.quit()


class ProcessTest(unittest.TestCase):
    def test_refuses_a_non_loopback_address(self):
        with tempfile.TemporaryDirectory() as root:
            result = subprocess.run([PYTHON, SERVER, "--root", root, "--host", "0.0.0.0"],
                                    capture_output=True, timeout=WAIT)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, b"")

    def test_ipv6_loopback(self):
        with tempfile.TemporaryDirectory() as root:
            process = subprocess.Popen([PYTHON, SERVER, "--root", root, "--host", "::1"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            try:
                port = int(process.stdout.readline().split()[1])
                ftp = ftplib.FTP()
                ftp.connect("::1", port, timeout=WAIT)
                ftp.login(USER, PASSWORD)
                self.assertEqual(ftp.nlst(), [])
                ftp.close()
            finally:
                os.kill(process.pid, signal.SIGTERM)
                process.wait(5)
                process.stdout.close()

    def test_sigterm_stops_it(self):
        server = Server()
        os.kill(server.process.pid, signal.SIGTERM)
        self.assertEqual(server.process.wait(5), 0)
        server.stop()

    def test_dies_with_its_parent(self):
        """A parent killed without a chance to clean up must not leave the server behind."""
        with tempfile.TemporaryDirectory() as root:
            parent_code = (
                "import subprocess, sys, time\n"
                "p = subprocess.Popen([%r, %r, '--root', %r], stdout=subprocess.PIPE)\n"
                "line = p.stdout.readline()\n"
                "print(p.pid, flush=True)\n"
                "time.sleep(60)\n" % (PYTHON, SERVER, root))
            parent = subprocess.Popen([PYTHON, "-c", parent_code], stdout=subprocess.PIPE)
            try:
                server_pid = int(parent.stdout.readline())
            finally:
                os.kill(parent.pid, signal.SIGKILL)
                parent.wait(5)
                parent.stdout.close()
            deadline = time.monotonic() + WAIT
            while time.monotonic() < deadline and process_alive(server_pid):
                time.sleep(0.05)
            self.assertFalse(process_alive(server_pid))


def closed_by_peer(sock):
    """True when the peer closed the connection, orderly or by a reset."""
    try:
        return sock.recv(10) == b""
    except ConnectionResetError:
        return True


def process_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except (FileNotFoundError, ProcessLookupError):
        return False
    return state not in ("Z", "X")


if __name__ == "__main__":
    unittest.main(verbosity=1)
