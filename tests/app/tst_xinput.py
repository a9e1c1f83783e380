"""tst_xinput.py KAVREL FTPSERVER_PY: the program under Xvfb and openbox, clicked with xdotool (one real X
event, the pointer still after it) and closed by wmctrl, against a throttled or stalled test server. Each
wait is on a condition (the server's command log, a window that appears), as long as a loaded machine needs."""
import os, pathlib, re, shutil, subprocess, sys, tempfile, time, unittest

KAVREL, FTPSERVER = sys.argv[1:3]
PATIENCE = 60
CONNECT, BACKUP, ABORT = 510, 3550, 5070  # button centres, in twips from the window's top (one column)
SUMMARY = ["xdotool", "search", "--name", "^(Backup Complete|Error During Backup)$"]


def wait_for(condition, seconds=PATIENCE):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.05)
    return condition()


class XInput(unittest.TestCase):
    @classmethod
    def start(cls, command, **options):  # stopped by its process id however the test ends
        process = subprocess.Popen(command, **options)
        cls.addClassCleanup(lambda: process.terminate() or process.wait(10))
        return process

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        reader, writer = os.pipe()  # Xvfb picks a free display itself and writes its number here
        cls.start(["Xvfb", "-displayfd", str(writer), "-screen", "0", "1280x1024x24"], pass_fds=[writer],
                  stderr=subprocess.DEVNULL)
        cls.env = {k: v for k, v in os.environ.items() if k != "QT_NO_GLIB"}  # the default event loop
        cls.env.update(DISPLAY=":" + os.read(reader, 16).decode().strip(), QT_QPA_PLATFORM="xcb")
        cls.start(["openbox"], env=cls.env)
        assert wait_for(lambda: "Openbox" in cls.x("wmctrl", "-m")), "no openbox: run scripts/setup"
        cls.root, cls.faults, cls.log = (pathlib.Path(cls.work.name, name) for name in ("root", "faults", "log"))
        for name in ["DTA/f1", "DTA/f2", "DTA/f3", "DTA/f4", "PMT/p1"]:
            (cls.root / name).parent.mkdir(parents=True, exist_ok=True)
            (cls.root / name).write_bytes(os.urandom(30000))
        server = cls.start(["/usr/bin/python3", FTPSERVER, "--root", cls.root, "--faults", cls.faults,
                            "--command-log", cls.log], stdout=subprocess.PIPE, text=True)
        cls.address = "127.0.0.1:" + server.stdout.readline().split()[1]

    @classmethod
    def x(cls, *command):  # xdotool or wmctrl on our display
        return subprocess.run(command, env=cls.env, capture_output=True, text=True, timeout=PATIENCE).stdout.strip()

    def sent(self, verb):
        return [line for line in self.log.read_text().splitlines() if line.startswith(verb)]

    def click(self, twips_down, done=lambda: True):  # again until done: a click that comes too early is lost
        return any(self.x("xdotool", "mousemove", "--window", self.window, "--sync", str(round(3942 * self.scale)),
                          str(round(twips_down * self.scale)), "click", "1") or wait_for(done, 3) for _ in range(9))

    def test_stop_during_a_file(self):
        """The file in hand completes (a stalled one is cut short 10 s after a close, not after the 60 s
        silence limit, or at a second close); no later category nor file after the next one starts; after
        Abort the focus is not on Exit; a closed window goes once its summary is answered, settings saved."""
        halted = "Error During Backup"
        for closes, fault, title, least, most in [(0, "throttle", "Backup Complete", 0, PATIENCE),
                                                  (1, "throttle", "Backup Complete", 0, PATIENCE),
                                                  (1, "silence", halted, 9.5, 30), (2, "silence", halted, 0, 8)]:
            with self.subTest(closes=closes, fault=fault), tempfile.TemporaryDirectory() as folder:
                self.stop_during_a_file(pathlib.Path(folder), closes, fault, title, least, most)

    def stop_during_a_file(self, folder, closes, fault, title, least, most):
        settings = folder / "kavrel.INI"  # beside the program, as is its trace
        # One connection: the counts of files in hand below are those of one connection.
        settings.write_text(f"[Connection]\nServer={self.address}\nUser=admin\nPassword=tamsk\nConnections=1\n"
                            f"[LocalHost]\nDataPath={folder}/backup\n")
        folder.joinpath("faults").write_text(f'{{"{fault}": {{"command": "RETR", "bytes_per_second": 15000}}, '
                                             f'"_": {time.time()}}}')  # new text: the rules start afresh
        os.replace(folder / "faults", self.faults)  # renamed over: the server never reads half of it
        self.log.write_text("")
        kavrel = subprocess.Popen([shutil.copy(KAVREL, folder)], env=self.env)
        try:
            self.window = self.x("xdotool", "search", "--sync", "--onlyvisible", "--name", "^Trelvik Backup")
            geometry = self.x("xdotool", "getwindowgeometry", "--shell", self.window)
            self.scale = int(re.search(r"WIDTH=(\d+)", geometry).group(1)) / 11385  # pixels a twip
            self.assertTrue(self.click(CONNECT, lambda: self.sent("TYPE I")))
            self.assertTrue(self.click(BACKUP, lambda: self.sent("RETR")))
            started, clock = len(self.sent("RETR")), time.monotonic()
            for _ in range(closes):
                self.x("wmctrl", "-i", "-c", self.window)
            if closes == 0:
                self.click(ABORT)
            self.assertTrue(wait_for(lambda: self.x(*SUMMARY), most))
            self.assertGreaterEqual(time.monotonic() - clock, least)
            box, fetched = self.x(*SUMMARY), self.sent("RETR")
            self.assertEqual(self.x("xdotool", "getwindowname", box), title)
            self.assertTrue(len(fetched) <= started + 1 and "RETR p1" not in fetched, fetched)
            self.assertTrue(wait_for(lambda: self.x("xdotool", "windowactivate", "--sync", box, "key", "Return")
                                     + self.x(*SUMMARY) == ""))
            if closes == 0:  # Abort had the focus: passed on to Exit, this Space would end the program
                self.x("xdotool", "windowactivate", "--sync", self.window, "key", "space", "alt+d")
                self.assertTrue(wait_for(lambda: self.sent("QUIT")))
                self.x("xdotool", "key", "alt+c")  # and there would be no window to connect again
                self.assertTrue(wait_for(lambda: len(self.sent("USER")) == 2))
                self.x("wmctrl", "-i", "-c", self.window)
            self.assertEqual(kavrel.wait(PATIENCE), 0)
            self.assertIn("[Selection]", settings.read_text())
        finally:
            kavrel.kill()  # by its process id; nothing when it has ended
            kavrel.wait()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
