#!/usr/bin/env python3
"""A user's day with sdvoice, driven from outside through the accessibility interface.

Starts the given sdvoice program under Xvfb with a D-Bus session of its own, Qt's AT-SPI bridge
switched on, a PulseAudio server with a null sink for its sound, a temporary home and a FAT card
image mounted under /media/ in a mount namespace of its own, and walks through the day:

1. no card: the status reads "设备状态：设备未连接";
2. the card is mounted: its recordings are listed with the right texts within a second;
3. "全部上传": every recording arrives in the upload folder, byte-identical, its time kept;
4. "语音查询": the upload folder chosen in the tree, searched by a phone number, a row played
   (the null sink's monitor hears it) and stopped;
5. the card is unmounted: the list empties and the status turns to "设备未连接";
6. a password is set; at the next start the login asks for it and refuses a wrong one.

Controls are found by their accessible names and roles, buttons pressed through their actions,
menus and tree items clicked with the mouse, message boxes answered like the rest. A screenshot
per step goes into the output folder, with the program's log.

    user_day.py --program PREFIX/bin/sdvoice --voctool PREFIX/bin/voctool \\
                --card-script scripts/make-sample-card.sh --output DIR

Exit status: 0 passed, 1 failed, 77 skipped (Xvfb, AT-SPI or mounting cannot work here).
"""

import argparse
import array
import ctypes
import ctypes.util
import filecmp
import importlib.util
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SKIPPED = 77
WHOLE_RUN_SECONDS = 55
CARD_NAME = "sdvoice-e2e"
CARD_RECORDINGS = 12
ARCHIVE_FOLDER = "录音存档"
PHONE_DIGITS = "5678"
PASSWORD = "Rec0rder"
SINK = "e2esink"
NOT_CONNECTED = "设备状态：设备未连接"
CONNECTED = "设备状态：设备已连接"
MODE_NAMES = {ord("Z"): "主叫", ord("B"): "被叫", ord("L"): "留言", ord("X"): "现场"}


class Skip(Exception):
    """This machine cannot run the test (no Xvfb, no AT-SPI, no mounting)."""


class Failed(Exception):
    """The program did not do what the user expects."""


def check(condition, message):
    if not condition:
        raise Failed(message)


def wait_until(what, probe, seconds=10.0, describe=None):
    """Polls probe until it returns a true value and returns that; fails after the deadline,
    saying what was expected and (through describe) what was last seen."""
    deadline = time.monotonic() + seconds
    error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except Failed:
            raise
        except Exception as exc:  # the window may be changing under the probe
            error = exc
        if time.monotonic() > deadline:
            seen = describe() if describe else (repr(error) if error else "")
            raise Failed(f"{what} within {seconds:g} s" + (f"; seen: {seen}" if seen else ""))
        time.sleep(0.05)


def have(program):
    return shutil.which(program) is not None


# ---------------------------------------------------------------------------------------------
# Recordings as the card holds them, read here without the program's code.

def header_of(path):
    """Mode name and phone number from the 23-byte record at offset 256 of a recording."""
    with open(path, "rb") as file:
        file.seek(256)
        record = file.read(23)
    phone = record[1:18].split(b"\0", 1)[0].decode("gb18030", "replace").strip()
    return MODE_NAMES.get(record[0], "其他"), phone


def voctool_rows(voctool, folder):
    """The eight column texts of every recording in folder, as voctool lists them."""
    out = subprocess.run([voctool, "list", folder], check=True, capture_output=True, text=True).stdout
    return [line.split("\t") for line in out.splitlines() if line]


# ---------------------------------------------------------------------------------------------
# Screenshots of the whole Xvfb screen, through libX11, written as PNG.

class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


def _png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def save_screenshot(display, path):
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XDisplayWidth.argtypes = x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XGetImage.restype = ctypes.POINTER(_XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                              ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    check(connection, f"cannot open display {display} for a screenshot")
    try:
        width, height = x11.XDisplayWidth(connection, 0), x11.XDisplayHeight(connection, 0)
        image = x11.XGetImage(connection, x11.XDefaultRootWindow(connection), 0, 0, width, height,
                              0xFFFFFFFF, 2)  # all planes, ZPixmap
        check(image, "XGetImage gave no picture")
        picture = image.contents
        stride = picture.bytes_per_line
        check(picture.bits_per_pixel == 32 and picture.red_mask == 0xFF0000,
              f"unexpected screen format: {picture.bits_per_pixel} bits per pixel")
        raw = ctypes.string_at(picture.data, stride * height)
        x11.XDestroyImage(image)
    finally:
        x11.XCloseDisplay(connection)
    rows = []
    for y in range(height):
        line = raw[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(b"\0" + bytes(rgb))
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n"
                   + _png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                   + _png_chunk(b"IDAT", zlib.compress(b"".join(rows), 6))
                   + _png_chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------
# The program's windows as a screen reader sees them.

class Screen:
    """The AT-SPI view of one running sdvoice process, and the user's mouse."""

    def __init__(self, pyatspi, process):
        self.atspi = pyatspi
        self.process = process
        self.pid = process.pid

    def application(self):
        check(self.process.poll() is None, f"sdvoice ended (status {self.process.returncode})")
        desktop = self.atspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.get_process_id() == self.pid:
                return app
        return None

    def showing(self, accessible):
        return accessible.getState().contains(self.atspi.STATE_SHOWING)

    def window(self, title, seconds=10.0):
        """The shown top-level window with this title (a frame, dialog or message box)."""
        def probe():
            app = self.application()
            for index in range(app.childCount if app else 0):
                child = app.getChildAtIndex(index)
                if child is not None and child.name == title and self.showing(child):
                    return child
            return None
        return wait_until(f"the window \"{title}\" shows", probe, seconds, self.describe_windows)

    def gone(self, title, seconds=10.0):
        def probe():
            app = self.application()
            return all(not (child.name == title and self.showing(child))
                       for child in (app.getChildAtIndex(i) for i in range(app.childCount)) if child)
        wait_until(f"the window \"{title}\" closes", probe, seconds, self.describe_windows)

    def describe_windows(self):
        app = self.application()
        if app is None:
            return "no sdvoice on the accessibility bus"
        return ", ".join(f"{child.getRoleName()} \"{child.name}\"" + ("" if self.showing(child) else " (hidden)")
                         for child in (app.getChildAtIndex(i) for i in range(app.childCount)) if child)

    def find(self, root, role, name=None, prefix=None):
        found = self.find_if_there(root, role, name, prefix)
        check(found is not None, f"no {role} named \"{name or prefix or ''}\" in \"{root.name}\"")
        return found

    def find_if_there(self, root, role, name=None, prefix=None):
        def matches(accessible):
            return (accessible is not None and accessible.getRoleName() == role
                    and (name is None or accessible.name == name)
                    and (prefix is None or accessible.name.startswith(prefix)))
        return self.atspi.findDescendant(root, matches)

    def press(self, root, name):
        button = self.find(root, "push button", name)
        check(button.getState().contains(self.atspi.STATE_ENABLED), f"the button \"{name}\" is disabled")
        actions = button.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        check("Press" in names, f"the button \"{name}\" offers no Press action: {names}")
        actions.doAction(names.index("Press"))

    def click(self, accessible, event="b1c"):
        box = accessible.queryComponent().getExtents(self.atspi.DESKTOP_COORDS)
        self.atspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, event)

    def key(self, keysym):
        self.atspi.Registry.generateKeyboardEvent(keysym, None, self.atspi.KEY_SYM)

    def choose_menu(self, window, menu, item):
        """Opens a menu of the menu bar and chooses one of its items, with the mouse.
        (A menu item's action would run the modal window it opens inside the AT-SPI call.)"""
        self.click(self.find(window, "menu item", prefix=menu))
        entry = self.find(window, "menu item", prefix=item)
        wait_until(f"the menu item \"{item}\" shows", lambda: self.showing(entry), 5)
        self.click(entry)

    def type_into(self, root, role, name, text):
        self.find(root, role, name).queryEditableText().setTextContents(text)

    def rows(self, table):
        cells = table.queryTable()
        return [[cells.getAccessibleAt(row, column).name for column in range(cells.nColumns)]
                for row in range(cells.nRows)]

    def answer_message(self, text, shot=None):
        """Waits for the message box saying text, takes the screenshot, presses its button."""
        def probe():
            app = self.application()
            for child in (app.getChildAtIndex(i) for i in range(app.childCount)):
                if child is not None and child.getRoleName() in ("alert", "dialog") and self.showing(child):
                    if self.atspi.findDescendant(child, lambda a: a is not None and a.getRoleName() == "label"
                                                 and a.name == text):
                        return child
            return None
        box = wait_until(f"the message \"{text}\"", probe, 15, self.describe_windows)
        if shot:
            shot()
        buttons = self.atspi.findAllDescendants(box, lambda a: a is not None and a.getRoleName() == "push button")
        check(len(buttons) == 1, f"the message \"{text}\" has {len(buttons)} buttons, expected one")
        self.press(box, buttons[0].name)
        wait_until(f"the message \"{text}\" closes", lambda: not self.showing(box), 5)


# ---------------------------------------------------------------------------------------------
# The machine around the program: display, buses, sound server, card.

class Machine:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.home = os.path.join(work, "home")
        self.children = []
        self.display = None
        self.env = None
        self.card_mounted = False
        self.starts = 0
        os.makedirs(self.home)
        os.makedirs(os.path.join(work, "runtime"), mode=0o700)

    def spawn(self, argv, log_name, env=None, **options):
        """Starts a child that is ended at the end of the day; its output goes to log_name."""
        with open(os.path.join(self.args.output, log_name), "wb") as log:
            child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                     env=env or self.env, **options)
        self.children.append(child)
        return child

    def start(self):
        self.hide_other_media()
        self.start_display()
        self.start_accessibility_bus()
        self.start_sound_server()

    def hide_other_media(self):
        """A tmpfs over /media in this private mount namespace: no other card is seen."""
        os.makedirs("/media", exist_ok=True)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=1m", "sdvoice-e2e-media", "/media"],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Skip(f"cannot mount a tmpfs over /media: {done.stderr.strip()}")

    def start_display(self):
        read_end, write_end = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                    "-noreset"], "xvfb.log", env=os.environ.copy(), pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            if select.select([read_end], [], [], 0.2)[0]:
                part = os.read(read_end, 16)
                if not part:
                    break
                number += part
        os.close(read_end)
        if not number.strip():
            raise Skip("Xvfb did not start (see xvfb.log)")
        self.display = ":" + number.decode().strip()
        runtime = os.path.join(self.work, "runtime")
        self.env = dict(os.environ, DISPLAY=self.display, HOME=self.home, XDG_RUNTIME_DIR=runtime,
                        LANG="C.UTF-8", LC_ALL="C.UTF-8")
        for variable in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "QT_QPA_PLATFORM",
                         "WAYLAND_DISPLAY", "SESSION_MANAGER", "AT_SPI_BUS_ADDRESS"):
            self.env.pop(variable, None)
            os.environ.pop(variable, None)

    def start_accessibility_bus(self):
        launcher = accessibility_bus_launcher()
        self.spawn([launcher, "--launch-immediately"], "at-spi.log")
        # Asks whether the launcher holds its name; asking the bus itself would start a second one.
        probe = ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"]
        try:
            wait_until("the accessibility bus launcher runs", lambda: "boolean true" in subprocess.run(
                probe, env=self.env, capture_output=True, text=True).stdout, 10)
        except Failed as failure:
            raise Skip(f"AT-SPI cannot start here: {failure}") from None
        os.environ.update(DISPLAY=self.display)
        import pyatspi  # only now: it connects to the accessibility bus of this session
        self.pyatspi = pyatspi

    def start_sound_server(self):
        runtime = os.path.join(self.work, "pulse")
        os.makedirs(runtime, mode=0o700)
        socket = os.path.join(runtime, "native")
        self.env.update(PULSE_RUNTIME_PATH=runtime, PULSE_STATE_PATH=runtime, PULSE_SERVER="unix:" + socket,
                        SDL_AUDIODRIVER="pulseaudio")
        self.spawn(["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "-n",
                    "--disallow-exit", "--disable-shm=yes", "--log-target=stderr",
                    "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                    "-L", f"module-null-sink sink_name={SINK} rate=48000"], "pulseaudio.log")
        try:
            wait_until("PulseAudio answers", lambda: subprocess.run(
                ["pactl", "set-default-sink", SINK], env=self.env, capture_output=True).returncode == 0, 10)
        except Failed as failure:
            raise Skip(f"PulseAudio cannot start here (see pulseaudio.log): {failure}") from None

    def mount_card(self):
        done = subprocess.run(["bash", self.args.card_script, "--count", str(CARD_RECORDINGS), "--voctool",
                               self.args.voctool, "--image-dir", os.path.join(self.work, "card"), CARD_NAME],
                              capture_output=True, text=True, env=self.env)
        if done.returncode != 0:
            raise Skip(f"the card image cannot be mounted here: {done.stdout}{done.stderr}".strip())
        self.card_mounted = True
        return f"/media/{CARD_NAME}/VOICE"

    def unmount_card(self):
        subprocess.run(["bash", self.args.card_script, "--unmount", CARD_NAME], capture_output=True,
                       env=self.env, timeout=20)
        self.card_mounted = False

    def record_sound(self, path):
        """parec on the null sink's monitor, 8000 Hz mono 16-bit, until stopped; connected when
        this returns."""
        with open(path, "wb") as heard:
            recorder = subprocess.Popen(["parec", f"--device={SINK}.monitor", "--rate=8000", "--channels=1",
                                         "--format=s16le", "--raw", "--latency-msec=20"],
                                        stdout=heard, stderr=subprocess.DEVNULL, env=self.env)
        self.children.append(recorder)
        wait_until("parec records the sink's monitor", lambda: subprocess.run(
            ["pactl", "list", "short", "source-outputs"], env=self.env, capture_output=True,
            text=True).stdout.strip(), 5)
        return recorder

    def start_program(self):
        self.starts += 1
        program = self.spawn([self.args.program], f"sdvoice-{self.starts}.log",
                             env=dict(self.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        return program, Screen(self.pyatspi, program)

    def shot(self, step):
        save_screenshot(self.display, os.path.join(self.args.output, f"step-{step}.png"))

    def stop(self):
        if self.card_mounted:
            self.unmount_card()
        for child in reversed(self.children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()


def accessibility_bus_launcher():
    for candidate in ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"):
        if os.access(candidate, os.X_OK):
            return candidate
    return None


# ---------------------------------------------------------------------------------------------
# Sound as parec heard it.

def loudness(path, last_seconds):
    """The root mean square of the last seconds of the samples recorded."""
    with open(path, "rb") as file:
        data = file.read()
    data = data[:len(data) // 2 * 2]
    samples = array.array("h", data[-int(last_seconds * 8000) * 2:])
    if not samples:
        return 0.0
    return (sum(s * s for s in samples) / len(samples)) ** 0.5


# ---------------------------------------------------------------------------------------------
# The day.

def write_upload_folder_setting(home, folder):
    """The program's configuration file, line 1 the upload folder (GB18030, CR LF)."""
    config = os.path.join(home, ".config", "sdvoice")
    os.makedirs(config)
    with open(os.path.join(config, "qzacfg.cfg"), "wb") as file:
        file.write(folder.encode("gb18030") + b"\r\n")
    return os.path.join(config, "qzacfg.cfg")


def status_text(screen, frame):
    return screen.find(frame, "label", prefix="设备状态：").name


def walk_the_day(machine):
    archive = os.path.join(machine.home, ARCHIVE_FOLDER)
    config_file = write_upload_folder_setting(machine.home, archive + "/")
    program, screen = machine.start_program()
    main = screen.window("SD卡录音设备语音管理软件", 20)
    recordings = screen.find(main, "table", "录音列表")

    # 1. No card.
    check(status_text(screen, main) == NOT_CONNECTED, f"status without a card: {status_text(screen, main)}")
    path_box = screen.find(main, "text", "上传路径：")
    check(path_box.queryText().getText(0, -1) == archive + "/", "the upload path from the configuration file "
          f"is not shown: {path_box.queryText().getText(0, -1)!r}")
    check(recordings.queryTable().nRows == 0, "rows listed without a card")
    machine.shot(1)
    print(f"1. no card: {NOT_CONNECTED}")

    # 2. The card arrives: listed within a second, every text as voctool reads the card.
    voice = machine.mount_card()
    mounted_at = time.monotonic()
    wait_until(f"{CARD_RECORDINGS} rows listed after the card was mounted",
               lambda: recordings.queryTable().nRows == CARD_RECORDINGS, 1.0,
               lambda: f"{recordings.queryTable().nRows} rows after {time.monotonic() - mounted_at:.2f} s")
    listed_after = time.monotonic() - mounted_at
    wait_until("the status says the card is connected", lambda: status_text(screen, main) == CONNECTED, 2,
               lambda: status_text(screen, main))
    shown = screen.rows(recordings)
    expected = sorted(voctool_rows(machine.args.voctool, voice), key=lambda row: row[1])
    check([row[0] for row in shown] == [str(n) for n in range(1, CARD_RECORDINGS + 1)],
          f"rows not numbered 1 to {CARD_RECORDINGS} in file-name order: {[row[0] for row in shown]}")
    check([row[1:] for row in shown] == [row[1:] for row in expected],
          "listed texts differ from the card:\n" + "\n".join(
              f"  shown {s[1:]}\n  card  {e[1:]}" for s, e in zip(shown, expected) if s[1:] != e[1:]))
    for row in shown:
        mode, phone = header_of(os.path.join(voice, row[1]))
        check(row[2:4] == [phone, mode] and row[7] == os.path.join(voice, row[1]),
              f"row {row} does not say phone {phone!r}, mode {mode}, path {os.path.join(voice, row[1])}")
    machine.shot(2)
    print(f"2. card mounted: {CARD_RECORDINGS} rows listed {listed_after:.2f} s later, texts as on the card")

    # 3. Everything uploaded, unchanged and with its time.
    screen.press(main, "全部上传")
    screen.answer_message("数据上传完毕！", lambda: machine.shot(3))
    names = sorted(os.listdir(voice))
    archived = sorted(set(os.listdir(archive)) - {"SHA256SUMS"})
    check(archived == names, f"upload folder holds {archived}, the card {names}")
    sums = subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=archive, capture_output=True, text=True)
    check(sums.returncode == 0, f"sha256sum -c refuses the upload's SHA256SUMS: {sums.stdout}{sums.stderr}")
    for name in names:
        source, copy = os.path.join(voice, name), os.path.join(archive, name)
        check(filecmp.cmp(source, copy, shallow=False), f"{name} differs from the card's")
        check(os.stat(copy).st_mtime_ns == os.stat(source).st_mtime_ns, f"{name} lost its modification time")
    print(f"3. uploaded: {len(names)} recordings byte-identical, times kept")

    # 4. The archive searched by a phone number; a row played and stopped.
    screen.choose_menu(main, "语音管理", "语音查询")
    search = screen.window("语音查询")
    tree = screen.find(search, "tree", "查询语音路径")
    # A click lists the home folder, with the window disabled meanwhile; Right then opens it, and
    # its subfolders come from the tree's own thread.
    screen.click(screen.find(tree, "table cell", machine.home + "/"))

    def open_home():
        found = screen.find_if_there(tree, "table cell", ARCHIVE_FOLDER)
        if found is None and tree.getState().contains(screen.atspi.STATE_ENABLED):
            screen.key(0xff53)  # XK_Right
        return found
    screen.click(wait_until("the upload folder in the tree", open_home))
    results = screen.find(search, "table", "语音列表")
    wait_until("the upload folder's recordings listed", lambda: results.queryTable().nRows == CARD_RECORDINGS, 10,
               lambda: f"{results.queryTable().nRows} rows")
    matching = sorted(name for name in names if PHONE_DIGITS in header_of(os.path.join(archive, name))[1])
    check(1 < len(matching) < len(names), f"the sample card should have some, not all, numbers with "
          f"{PHONE_DIGITS}: {matching}")
    screen.type_into(search, "spin button", "从：", "2023-01-01")
    screen.type_into(search, "text", "电话号码：", PHONE_DIGITS)
    screen.press(search, "查  找")
    found = wait_until(f"the search for {PHONE_DIGITS} lists {matching}",
                       lambda: sorted(row[1] for row in screen.rows(results)) == matching and screen.rows(results),
                       10, lambda: [row[1] for row in screen.rows(results)])
    check(all(PHONE_DIGITS in row[2] for row in found), f"a found row lacks {PHONE_DIGITS}: {found}")
    longest = max(range(len(found)), key=lambda r: os.path.getsize(os.path.join(archive, found[r][1])))
    screen.click(results.queryTable().getAccessibleAt(longest, 1))
    heard = os.path.join(machine.work, "heard.raw")
    recorder = machine.record_sound(heard)
    screen.press(search, "播放")
    playing = screen.window("语音查询 正在播放的语音：" + found[longest][7])  # names what plays
    wait_until("the null sink hears the recording", lambda: loudness(heard, 0.5) > 300, 10,
               lambda: f"loudness {loudness(heard, 0.5):.0f}")
    position = screen.find(playing, "slider", "播放进度")
    wait_until("the position slider moves", lambda: position.queryValue().currentValue > 0, 10)
    machine.shot(4)
    screen.press(playing, "停止")
    wait_until("the position slider returns to 0", lambda: position.queryValue().currentValue == 0, 5)
    # The recording's hiss never pauses: a quiet quarter of a second means the sound has stopped.
    wait_until("silence after stop", lambda: loudness(heard, 0.25) < 30, 5,
               lambda: f"loudness {loudness(heard, 0.25):.0f}")
    recorder.terminate()
    screen.press(playing, "退出")
    screen.gone(playing.name)
    print(f"4. searched {PHONE_DIGITS}: {len(found)} rows; {found[longest][1]} heard and stopped")

    # 5. The card goes.
    machine.unmount_card()
    wait_until("the list empties", lambda: recordings.queryTable().nRows == 0, 5,
               lambda: f"{recordings.queryTable().nRows} rows")
    wait_until("the status says no card", lambda: status_text(screen, main) == NOT_CONNECTED, 5,
               lambda: status_text(screen, main))
    machine.shot(5)
    print("5. card unmounted: list empty, status back to not connected")

    # 6. A password set, and asked for at the next start.
    screen.choose_menu(main, "设置", "密码设置")
    dialog = screen.window("更改密码")
    screen.type_into(dialog, "password text", "新密码", PASSWORD)
    screen.type_into(dialog, "password text", "校验密码", PASSWORD)
    screen.press(dialog, "OK")
    screen.answer_message("修改口令成功！")
    screen.gone("更改密码")
    with open(config_file, "rb") as file:
        lines = file.read().decode("gb18030").splitlines()
    check(lines == [archive + "/", PASSWORD], f"the configuration file holds {lines}")
    # A logout or a service manager ends the program with SIGTERM; it has played sound meanwhile.
    program.send_signal(signal.SIGTERM)
    try:
        status = program.wait(2)
    except subprocess.TimeoutExpired:
        status = None
    check(status == 0, f"sdvoice did not end within 2 s of SIGTERM (status {status})")

    program, screen = machine.start_program()
    login = screen.window("用户登录", 20)
    screen.type_into(login, "password text", "请输入口令：", PASSWORD.lower())
    screen.press(login, "确定")
    screen.answer_message("对不起，你输入的密码有误！", lambda: machine.shot(6))
    check(screen.showing(login), "the login closed after a wrong password")
    check(not any(child.name == "SD卡录音设备语音管理软件" and screen.showing(child)
                  for child in (screen.application().getChildAtIndex(i)
                                for i in range(screen.application().childCount)) if child),
          "the main window shows before the right password")
    screen.type_into(login, "password text", "请输入口令：", PASSWORD)
    screen.press(login, "确定")
    main = screen.window("SD卡录音设备语音管理软件")
    screen.press(main, "系统退出")
    check(program.wait(10) == 0, f"sdvoice ended with status {program.returncode}")
    print("6. password set: the next start asks for it, refuses a wrong one, lets the right one in")


# ---------------------------------------------------------------------------------------------
# Outside: prerequisites, the private mount namespace and D-Bus session, the deadline.

def missing_prerequisite(args):
    for program in ("Xvfb", "dbus-run-session", "dbus-send", "unshare", "pulseaudio", "pactl", "parec"):
        if not have(program):
            return f"{program} is not installed (scripts/setup-deps.sh installs it)"
    if accessibility_bus_launcher() is None:
        return "at-spi-bus-launcher is not installed (package at-spi2-core)"
    if importlib.util.find_spec("pyatspi") is None:
        return f"pyatspi is not available to {sys.executable} (package python3-pyatspi)"
    if not (have("fusefat") and os.path.exists("/dev/fuse")) and "vfat" not in open("/proc/filesystems").read():
        return "neither a FAT driver nor fusefat with /dev/fuse: the card image cannot be mounted"
    for path in (args.program, args.voctool):
        if not os.access(path, os.X_OK):
            raise Failed(f"{path} is not an executable program (was it installed?)")
    return None


def fail_on_signal(number, _frame):
    raise Failed("the day took too long" if number == signal.SIGALRM else "stopped from outside")


def run_inside(args):
    signal.signal(signal.SIGTERM, fail_on_signal)
    signal.signal(signal.SIGALRM, fail_on_signal)
    signal.alarm(WHOLE_RUN_SECONDS - 8)
    work = tempfile.mkdtemp(prefix="sdvoice-e2e.")
    machine = Machine(args, work)
    try:
        machine.start()
        walk_the_day(machine)
        print("PASSED: a user's day with sdvoice")
        return 0
    except Skip as reason:
        print(f"SKIPPED: {reason}")
        return SKIPPED
    except Failed as failure:
        print(f"FAILED: {failure}")
        try:
            machine.shot("failure")
            print(f"(screen at the failure: {os.path.join(args.output, 'step-failure.png')})")
        except Exception:
            pass
        return 1
    finally:
        signal.alarm(0)
        machine.stop()
        shutil.rmtree(work, ignore_errors=True)


def run_outside(args):
    for name in os.listdir(args.output):  # what an earlier run left
        if name.startswith("step-") or name.endswith(".log"):
            os.remove(os.path.join(args.output, name))
    try:
        reason = missing_prerequisite(args)
    except Failed as failure:
        print(f"FAILED: {failure}")
        return 1
    if reason:
        print(f"SKIPPED: {reason}")
        return SKIPPED
    namespace = ["unshare", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        namespace.insert(1, "--map-root-user")
    if subprocess.run(namespace + ["true"], capture_output=True).returncode != 0:
        print("SKIPPED: no private mount namespace here (run as root, or allow user namespaces)")
        return SKIPPED
    command = namespace + ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), "--inside",
                           "--program", args.program, "--voctool", args.voctool, "--card-script",
                           args.card_script, "--output", args.output]
    inside = subprocess.Popen(command, start_new_session=True)
    signal.signal(signal.SIGTERM, fail_on_signal)
    try:
        return inside.wait(WHOLE_RUN_SECONDS)
    except (subprocess.TimeoutExpired, Failed, KeyboardInterrupt) as reason:
        # The inside cleans up (program, card, servers) on SIGTERM; SIGKILL only if it hangs.
        os.killpg(inside.pid, signal.SIGTERM)
        try:
            inside.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(inside.pid, signal.SIGKILL)
            inside.wait()
        timed_out = isinstance(reason, subprocess.TimeoutExpired)
        print(f"FAILED: the day did not end within {WHOLE_RUN_SECONDS} s" if timed_out else "FAILED: stopped")
        return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", required=True, help="the sdvoice program to drive")
    parser.add_argument("--voctool", required=True, help="voctool, to make and read the sample card")
    parser.add_argument("--card-script", required=True, help="scripts/make-sample-card.sh")
    parser.add_argument("--output", required=True, help="folder for the screenshots and logs")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    for name in ("program", "voctool", "card_script", "output"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    os.makedirs(args.output, exist_ok=True)
    sys.stdout.reconfigure(line_buffering=True)
    return run_inside(args) if args.inside else run_outside(args)


if __name__ == "__main__":
    sys.exit(main())
