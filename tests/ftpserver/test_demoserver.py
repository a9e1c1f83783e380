#!/usr/bin/python3
"""scripts/demo-server: the sample tree is complete, valid, the same on every run, and served."""

import ftplib
import hashlib
import os
import re
import signal
import struct
import subprocess
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEMO = os.path.join(REPO, "scripts", "demo-server")
WAIT = 10


class DemoServer:
    def __init__(self, root):
        self.process = subprocess.Popen([DEMO, "--port", "0", "--root", root],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.banner = self.process.stdout.readline().decode()
        port_line = self.process.stdout.readline().decode()
        match = re.fullmatch(r"PORT (\d+)\n", port_line)
        if not match:
            self.stop()
            raise RuntimeError("no port from the demo server: %r %r" % (self.banner, port_line))
        self.port = int(match.group(1))

    def stop(self):
        if self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
            self.process.wait(WAIT)
        self.process.stdout.close()


def tree_digest(root):
    digest = hashlib.sha256()
    for folder, _, files in sorted(os.walk(root)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(os.path.relpath(path, root).encode())
            with open(path, "rb") as f:
                digest.update(f.read())
            digest.update(str(int(os.stat(path).st_mtime)).encode())
    return digest.hexdigest()


def check_wave(testcase, path):
    with open(path, "rb") as f:
        content = f.read()
    testcase.assertEqual(content[:4], b"RIFF", path)
    testcase.assertEqual(content[8:16], b"WAVEfmt ", path)
    riff_size, = struct.unpack("<I", content[4:8])
    testcase.assertEqual(riff_size, len(content) - 8, path)
    fmt_size, audio_format, channels, rate = struct.unpack("<IHHI", content[16:28])
    testcase.assertEqual((fmt_size, audio_format, channels, rate), (16, 1, 1, 8000), path)
    testcase.assertEqual(content[36:40], b"data", path)
    data_size, = struct.unpack("<I", content[40:44])
    testcase.assertEqual(data_size, len(content) - 44, path)
    testcase.assertGreater(data_size, 0, path)


class DemoServerTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="demo-server-test-")
        self.addCleanup(self.work.cleanup)

    def serve(self, name):
        root = os.path.join(self.work.name, name)
        server = DemoServer(root)
        self.addCleanup(server.stop)
        return root, server

    def test_tree_is_complete_and_valid(self):
        root, server = self.serve("tree")
        self.assertIn("127.0.0.1", server.banner)
        self.assertIn("admin", server.banner)
        self.assertIn("tamsk", server.banner)
        for category in ("DTA", "PMT", "MSG", "MBX"):
            self.assertTrue(os.path.isdir(os.path.join(root, category)), category)
        pmt = os.path.join(root, "PMT")
        subfolders = sorted(e for e in os.listdir(pmt) if os.path.isdir(os.path.join(pmt, e)))
        self.assertTrue(3 <= len(subfolders) <= 4, subfolders)
        for folder in subfolders:
            prompts = os.listdir(os.path.join(pmt, folder))
            self.assertTrue(prompts)
            for name in prompts:
                check_wave(self, os.path.join(pmt, folder, name))
        top_prompts = [e for e in os.listdir(pmt) if e.endswith(".WAV")]
        self.assertTrue(top_prompts)
        for name in top_prompts:
            check_wave(self, os.path.join(pmt, name))
        messages = os.listdir(os.path.join(root, "MSG"))
        self.assertGreaterEqual(len(messages), 200)
        for name in messages:
            check_wave(self, os.path.join(root, "MSG", name))
        self.assertGreaterEqual(len(os.listdir(os.path.join(root, "DTA"))), 3)
        self.assertGreaterEqual(len(os.listdir(os.path.join(root, "MBX"))), 10)

    def test_same_tree_every_time(self):
        first, server = self.serve("one")
        server.stop()
        second, server = self.serve("two")
        server.stop()
        self.assertEqual(tree_digest(first), tree_digest(second))

    def test_serves_the_tree(self):
        root, server = self.serve("served")
        ftp = ftplib.FTP()
        self.addCleanup(ftp.close)
        ftp.connect("127.0.0.1", server.port, timeout=WAIT)
        ftp.login("admin", "tamsk")
        self.assertEqual(sorted(ftp.nlst("MBX")), sorted(os.listdir(os.path.join(root, "MBX"))))
        name = sorted(os.listdir(os.path.join(root, "MSG")))[0]
        chunks = []
        ftp.retrbinary("RETR MSG/" + name, chunks.append)
        with open(os.path.join(root, "MSG", name), "rb") as f:
            self.assertEqual(b"".join(chunks), f.read())

    def test_foreign_folder_is_served_untouched(self):
        root = os.path.join(self.work.name, "mine")
        os.mkdir(root)
        with open(os.path.join(root, "notes.txt"), "wb") as f:
            f.write(b"mine")
        server = DemoServer(root)
        self.addCleanup(server.stop)
        self.assertEqual(os.listdir(root), ["notes.txt"])


if __name__ == "__main__":
    unittest.main(verbosity=1)
