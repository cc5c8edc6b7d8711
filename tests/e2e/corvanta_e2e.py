"""Drives the real corvanta program under its own Xvfb, the way a user does.

Everything goes through the outside of the program: X input from xdotool,
window geometry and pictures read back from the X server, the INI file and
the saved JPEG files read from disk. Nothing here links against the program.

Waits poll for a condition and give up only after a minute: they exist to stop
a hung run, not to measure speed, so a loaded machine only makes them slower.
"""

import configparser
import json
import os
import random
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from desktop import Desktop, Failure, desktop_kind

SKIP = 77  # ctest's SKIP_RETURN_CODE for "no X server can be started here"
PATIENCE = 60.0

# The caption before a picture is loaded, and "Corvanta — file" after.
MAIN_TITLE = "^(  Corvanta   \\|   Lodrevan|Corvanta .+)$"
# Client places of the main window's controls, as the window lays them out at
# its first-start size (the right column is 290 wide at the right edge).
RIGHT_COLUMN = 610
PHOTO_SLOT = (623, 92, 260, 315)
SIGNATURE_SLOT = (635, 422, 236, 47)
SAVE_BUTTON = (619 + 104, 650 + 18)
FILE_BUTTON = (756 + 65, 6 + 18)
SCAN_BUTTON = (619 + 65, 6 + 18)
VIEW = (3, 0, 599, 725 - 54)  # the image view fills the panel left of the column, above the 54-pixel status strip
SLIDER_X = 615 + 80      # sliders: group at (615, 479), each 172 wide
SLIDER_W = 172
SLIDER_Y = [479 + 24 + 27 * i + 12 for i in range(5)]  # Luminosità .. Definizione
PHOTO_LIMIT = 34990
SIGNATURE_LIMIT = 19990


def check(cond, what):
    if not cond:
        raise Failure(what)


T0 = time.monotonic()


def log(*args):
    print("[%6.1f]" % (time.monotonic() - T0), *args, flush=True)


def wait_for(what, fn, patience=PATIENCE, every=0.1):
    """Polls fn until it returns something true; fails after `patience`."""
    start = time.monotonic()
    while True:
        v = fn()
        if v:
            if time.monotonic() - start > 5:
                log("waited %.1f s for %s" % (time.monotonic() - start, what))
            return v
        if time.monotonic() - start > patience:
            raise Failure("gave up waiting for " + what)
        time.sleep(every)


def skip(why):
    log("SKIP: " + why)
    sys.exit(SKIP)


# --- the X server ------------------------------------------------------------------

class XServer:
    """A private Xvfb; its display number comes back through -displayfd."""

    def __init__(self, workdir, width=1280, height=1024):
        self.width, self.height = width, height
        exe = shutil.which("Xvfb")
        if not exe:
            skip("Xvfb is not installed")
        r, w = os.pipe()
        self.log = open(os.path.join(workdir, "xvfb.log"), "wb")
        try:
            self.proc = subprocess.Popen(
                [exe, "-displayfd", str(w), "-screen", "0", "%dx%dx24" % (width, height),
                 "-nolisten", "tcp", "-noreset",
                 # A key held while a loaded machine brings up a dialog must
                 # not turn into repeated presses.
                 "-r"],
                pass_fds=(w,), stdout=self.log, stderr=self.log)
        except OSError as e:
            skip("Xvfb cannot run: %s" % e)
        os.close(w)
        buf = b""
        end = time.monotonic() + PATIENCE
        while not buf.endswith(b"\n"):
            left = end - time.monotonic()
            if left <= 0 or self.proc.poll() is not None:
                break
            ready, _, _ = select.select([r], [], [], min(left, 0.5))
            if ready:
                chunk = os.read(r, 64)
                if not chunk:
                    break
                buf += chunk
        os.close(r)
        if not buf.strip().isdigit():
            self.stop()
            skip("Xvfb did not start (see %s)" % self.log.name)
        self.display = ":" + buf.strip().decode()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


# --- the user's folders and the program ------------------------------------------------

class Home:
    """A fresh home with its own XDG folders; the INI file lands under data/."""

    def __init__(self, root):
        self.root = root
        self.config = os.path.join(root, "config")
        self.data = os.path.join(root, "data")
        self.cache = os.path.join(root, "cache")
        self.runtime = os.path.join(root, "runtime")
        self.desktop = os.path.join(root, "Scrivania")
        self.pictures = os.path.join(root, "Immagini")
        for d in (self.config, self.data, self.cache, self.desktop, self.pictures):
            os.makedirs(d, exist_ok=True)
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        with open(os.path.join(self.config, "user-dirs.dirs"), "w") as f:
            f.write('XDG_DESKTOP_DIR="%s"\nXDG_PICTURES_DIR="%s"\n' % (self.desktop, self.pictures))
        self.ini_dir = os.path.join(self.data, "Lodrevan", "Corvanta")
        self.ini = os.path.join(self.ini_dir, "corvanta.ini")

    def env(self, display):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "XDG_", "DISPLAY", "WAYLAND", "SESSION_MANAGER"))}
        env.update({
            "HOME": self.root,
            "XDG_CONFIG_HOME": self.config,
            "XDG_DATA_HOME": self.data,
            "XDG_CACHE_HOME": self.cache,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_DESKTOP_DIR": self.desktop,
            "XDG_PICTURES_DIR": self.pictures,
            "DISPLAY": display,
            "QT_QPA_PLATFORM": "xcb",
            # Qt's own file dialog, whatever desktop the machine would suggest.
            "QT_QPA_PLATFORMTHEME": "",
            "SANE_CONFIG_DIR": os.path.join(source_dir(), "tests", "sane"),
        })
        return env

    def read_ini(self):
        """The INI file as {section: {key: value}}, names lower-cased; {} when absent."""
        if not os.path.isfile(self.ini):
            return {}
        cp = configparser.ConfigParser(interpolation=None, strict=False)
        with open(self.ini, encoding="utf-8-sig") as f:
            cp.read_string(f.read())
        return {s.lower(): dict(cp[s]) for s in cp.sections()}

    def ini_value(self, section, key):
        return self.read_ini().get(section.lower(), {}).get(key.lower())

    def write_options(self, screen=(1280, 1024), **options):
        """Stores options as a confirmed options window would, before a start,
        and the window's first-start place, which the client places above assume."""
        values = {
            "AppConfigPath": self.ini_dir + "/",
            "EdFilesOutput": self.desktop + "/",
            "ScannerCfg.Resolution": "200",
            "RbFotoStartDefault": "1",
            "CkMinSizeSel": "1",
            "CkCropMouseUp": "1",
            "CkStoreEditSliders": "1",
            "CkStoreSelections": "1",
            "CkFirmaGrayscale": "1",
            "FlsPicPath": self.pictures + "/",
            "CkFotoPreviewBw": "0",
        }
        values.update(options)
        os.makedirs(self.ini_dir, exist_ok=True)
        with open(self.ini, "w") as f:
            f.write("[FormOptions]\n")
            for k, v in values.items():
                f.write("%s=%s\n" % (k, v))
            f.write("[FormCrop]\nTOP=%d\nLEFT=%d\nWIDTH=900\nHEIGHT=725\n"
                    % ((screen[1] - 725) // 2, (screen[0] - 900) // 2))


def source_dir():
    return os.environ.get("CORVANTA_SOURCE_DIR") or os.path.abspath(
        os.path.join(os.path.dirname(__file__), "..", ".."))


class X:
    """xdotool and friends on one display."""

    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display)

    def run(self, *args, check_rc=True):
        p = subprocess.run(list(args), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if check_rc and p.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), p.stderr.decode(errors="replace")))
        return p.stdout

    def xdo(self, *args, check_rc=True):
        return self.run("xdotool", *[str(a) for a in args], check_rc=check_rc).decode()

    def visible(self, title, pid=None):
        """Ids of the mapped windows whose title matches the regular expression."""
        args = ["search", "--all", "--onlyvisible"]
        if pid:
            args += ["--pid", pid]
        out = self.xdo(*args, "--name", title, check_rc=False)
        return [int(w) for w in out.split()]

    def geometry(self, win):
        out = self.xdo("getwindowgeometry", "--shell", win, check_rc=False)
        vals = dict(line.split("=", 1) for line in out.split() if "=" in line)
        if "WIDTH" not in vals:
            return None
        return tuple(int(vals[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def focused(self):
        out = self.xdo("getwindowfocus", check_rc=False).strip()
        return int(out) if out.isdigit() else 0

    def pointer(self):
        out = self.xdo("getmouselocation", "--shell", check_rc=False)
        vals = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(vals.get("X", -1)), int(vals.get("Y", -1))

    def move(self, x, y):
        # Not "mousemove --sync": that waits for the pointer to move, which it
        # never does when it already stands on the spot (a second click).
        x, y = int(x), int(y)
        self.xdo("mousemove", x, y)
        wait_for("the pointer at %d, %d" % (x, y), lambda: self.pointer() == (x, y), every=0.02)

    def click(self, x, y, button=1):
        self.move(x, y)
        time.sleep(0.05)
        self.xdo("click", button)

    def drag(self, x1, y1, x2, y2, steps=12, button=1):
        """Press, move in small steps as a hand does, release."""
        self.move(x1, y1)
        time.sleep(0.1)
        self.xdo("mousedown", button)
        time.sleep(0.1)
        for i in range(1, steps + 1):
            self.move(x1 + (x2 - x1) * i / steps, y1 + (y2 - y1) * i / steps)
            time.sleep(0.03)
        time.sleep(0.1)
        self.xdo("mouseup", button)

    def key(self, *keys):
        """Each key pressed and let go after a short hold, as a finger does."""
        for k in keys:
            self.xdo("keydown", k)
            time.sleep(0.06)
            self.xdo("keyup", k)
            time.sleep(0.05)

    def type(self, text):
        self.xdo("type", "--delay", 20, text)

    def screenshot(self):
        # ImageMagick's import reads what the screen shows, the compositor's
        # work included; xwd -root reads the windows under it, where a
        # see-through window is still black.
        return Picture.from_pnm(self.run("import", "-window", "root", "-depth", "8", "ppm:-"))


class Corvanta:
    """One run of the program as a separate process."""

    def __init__(self, x, home, workdir):
        self.x, self.home = x, home
        exe = os.environ.get("CORVANTA_EXE")
        check(exe and os.access(exe, os.X_OK), "CORVANTA_EXE does not name the built program")
        self.out = open(os.path.join(workdir, "corvanta-%d.log" % time.time_ns()), "wb")
        self.proc = subprocess.Popen([exe], env=home.env(x.display), cwd=home.root,
                                     stdout=self.out, stderr=subprocess.STDOUT)
        self.win = wait_for("the main window", lambda: self._main_window())
        # Shown means laid out and painted once: wait until two shots agree.
        wait_for("the main window's first paint", self._settled)

    def _main_window(self):
        check(self.proc.poll() is None, "corvanta ended at start (exit %s)" % self.proc.returncode)
        wins = self.x.visible(MAIN_TITLE, self.proc.pid)
        return wins[0] if wins else None

    def _settled(self):
        a = self.shot()
        time.sleep(0.3)
        return a.data == self.shot().data

    def geometry(self):
        return self.x.geometry(self.win)

    def origin(self):
        g = self.geometry()
        return g[0], g[1]

    def at(self, cx, cy):
        """Screen point of a client point of the main window."""
        ox, oy = self.origin()
        return ox + cx, oy + cy

    def click(self, cx, cy, button=1):
        self.x.click(*self.at(cx, cy), button=button)

    def drag(self, cx1, cy1, cx2, cy2, steps=12):
        x1, y1 = self.at(cx1, cy1)
        x2, y2 = self.at(cx2, cy2)
        self.x.drag(x1, y1, x2, y2, steps)
        # A hand never leaves the mouse perfectly still after letting go.
        time.sleep(0.2)
        self.x.move(x2 + 2, y2 + 1)

    def focus(self):
        """Gives the main window the keyboard, as clicking its caption would."""
        self.x.xdo("windowfocus", "--sync", self.win, check_rc=False)

    def key(self, *keys):
        self.focus()
        self.x.key(*keys)

    def shot(self):
        """The main window's client area as it is on the screen."""
        g = self.geometry()
        return self.x.screenshot().crop(*g)

    def alive(self):
        return self.proc.poll() is None

    def dialog(self, title):
        """The window once it is mapped and painted: a compositor or a window
        manager that never gets the window's contents shows a black rectangle."""
        box = wait_for("the window \"%s\"" % title, lambda: next(iter(self.x.visible(title, self.proc.pid)), None))
        wait_for("the window \"%s\" painted" % title, lambda: self.painted(box))
        return box

    def painted(self, win):
        g = self.x.geometry(win)
        if not g or g[2] < 8 or g[3] < 8:
            return False
        p = self.x.screenshot().crop(*g)
        dark = sum(1 for i in range(0, len(p.data), 3) if p.data[i] + p.data[i + 1] + p.data[i + 2] < 48)
        # Qt's dialogs have a light ground with dark text on it.
        return dark < 0.5 * p.width * p.height and p.mean() != p.pixel(0, 0)

    def no_dialog(self, title):
        wait_for("the window \"%s\" to close" % title, lambda: not self.x.visible(title, self.proc.pid))

    def press_for(self, key, title):
        """Holds a key until the window it opens has the keyboard, then lets it go,
        as a finger still on the key when the dialog comes up does."""
        self.focus()
        self.x.xdo("keydown", key)
        try:
            box = self.dialog(title)
            wait_for("the keyboard in \"%s\"" % title, lambda: self.x.focused() == box)
            time.sleep(0.3)
            return box
        finally:
            self.x.xdo("keyup", key)

    def quit(self):
        """Esc, then Sì in the confirmation: the way a user closes the window."""
        self.press_for("Escape", "^Conferma$")
        time.sleep(0.2)
        self.x.key("Return")
        rc = wait_for("corvanta to end", lambda: self.proc.poll() is not None and (self.proc.returncode,))
        self.out.close()
        return rc[0]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()

    # --- workflow steps a user takes ---

    def open_file(self, path):
        """FILE, then the path typed into Qt's file dialog and Enter."""
        self.click(*FILE_BUTTON)
        box = self.dialog("^Apri immagini$")
        self.x.xdo("windowfocus", "--sync", box, check_rc=False)
        time.sleep(0.3)
        # The file name field has the focus; replace whatever it proposes.
        self.x.key("ctrl+a")
        self.x.type(path)
        self.x.key("Return")
        self.no_dialog("^Apri immagini$")

    def save(self, prefix=None):
        """The save button, the prefix typed into the name dialog (None keeps the
        one it offers), Enter."""
        self.click(*SAVE_BUTTON)
        box = self.dialog("^Nome per il file da salvare$")
        wait_for("the keyboard in the name dialog", lambda: self.x.focused() == box)
        # The dialog opens with its whole text selected: typing replaces it.
        time.sleep(0.2)
        if prefix is not None:
            self.x.type(prefix)
        self.x.key("Return")
        self.no_dialog("^Nome per il file da salvare$")

    def wait_ini(self, what, fn):
        return wait_for(what, lambda: fn(self.home.read_ini().get("formoptions", {})))


# --- pictures ----------------------------------------------------------------------

class Picture:
    """RGB pixels, rows top to bottom."""

    def __init__(self, width, height, data, channels=3):
        self.width, self.height, self.data, self.channels = width, height, bytes(data), channels

    @staticmethod
    def from_xwd(raw):
        h = struct.unpack(">25I", raw[:100])
        header_size, fmt, depth, w, ht = h[0], h[2], h[3], h[4], h[5]
        byte_order, bpp, bpl, ncolors = h[7], h[11] // 8, h[12], h[19]
        masks = h[14:17]
        check(fmt == 2 and depth == 24 and bpp in (3, 4) and masks == (0xFF0000, 0xFF00, 0xFF),
              "unexpected screen format in xwd output: %r" % (h,))
        off = header_size + ncolors * 12
        px = raw[off:off + bpl * ht]
        # Byte index of red, green and blue inside one pixel.
        idx = (2, 1, 0) if byte_order == 0 else (bpp - 3, bpp - 2, bpp - 1)
        out = bytearray(w * ht * 3)
        for y in range(ht):
            row = px[y * bpl:y * bpl + w * bpp]
            base = y * w * 3
            for c in range(3):
                out[base + c:base + w * 3:3] = row[idx[c]::bpp]
        return Picture(w, ht, out)

    @staticmethod
    def from_pnm(raw):
        parts, pos = [], 0
        while len(parts) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            if raw[pos:pos + 1] == b"#":
                pos = raw.index(b"\n", pos) + 1
                continue
            end = pos
            while not raw[end:end + 1].isspace():
                end += 1
            parts.append(raw[pos:end])
            pos = end
        pos += 1
        magic, w, h = parts[0], int(parts[1]), int(parts[2])
        check(magic in (b"P5", b"P6"), "djpeg wrote no PNM")
        channels = 3 if magic == b"P6" else 1
        return Picture(w, h, raw[pos:pos + w * h * channels], channels)

    def pixel(self, x, y):
        i = (y * self.width + x) * self.channels
        if self.channels == 1:
            v = self.data[i]
            return v, v, v
        return tuple(self.data[i:i + 3])

    def crop(self, x, y, w, h):
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.width, x + w), min(self.height, y + h)
        c = self.channels
        rows = [self.data[(r * self.width + x0) * c:(r * self.width + x1) * c] for r in range(y0, y1)]
        return Picture(x1 - x0, y1 - y0, b"".join(rows), c)

    def mean(self, x=0, y=0, w=None, h=None):
        """Mean red, green and blue over a rectangle (the whole picture by default)."""
        p = self.crop(x, y, w or self.width, h or self.height)
        n = p.width * p.height
        if p.channels == 1:
            m = sum(p.data) / n
            return m, m, m
        return tuple(sum(p.data[i::3]) / n for i in range(3))

    def grey_spread(self):
        """Mean |r - g| + |g - b|: 0 for a grey picture."""
        if self.channels == 1:
            return 0.0
        d = self.data
        n = self.width * self.height
        return sum(abs(d[i] - d[i + 1]) + abs(d[i + 1] - d[i + 2]) for i in range(0, 3 * n, 3)) / n

    def differs(self, other, threshold=24):
        """Count of pixels whose colour differs clearly."""
        a, b = self.data, other.data
        return sum(1 for i in range(0, len(a), 3)
                   if abs(a[i] - b[i]) + abs(a[i + 1] - b[i + 1]) + abs(a[i + 2] - b[i + 2]) > threshold)


def write_ppm(path, width, height, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        f.write(rgb)


def write_bmp(path, width, height, rgb):
    """A 24-bit bottom-up BMP, rows padded to four bytes."""
    stride = (width * 3 + 3) & ~3
    size = 54 + stride * height
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", size, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, stride * height, 7874, 7874, 0, 0))
        pad = b"\0" * (stride - width * 3)
        for y in range(height - 1, -1, -1):
            row = bytearray(rgb[y * width * 3:(y + 1) * width * 3])
            row[0::3], row[2::3] = row[2::3], row[0::3]
            f.write(bytes(row) + pad)


def gradient(width, height, blue=96, noise=24, seed=1):
    """Red grows to the right, green downwards; fine noise keeps JPEGs large.

    The colour of a crop's middle tells where in the picture it was cut."""
    rnd = random.Random(seed)
    out = bytearray(width * height * 3)
    reds = bytes(int(x * 255 / (width - 1)) for x in range(width))
    for y in range(height):
        g = int(y * 255 / (height - 1))
        row = bytearray(width * 3)
        row[0::3] = reds
        row[1::3] = bytes([g]) * width
        row[2::3] = bytes([blue]) * width
        if noise:
            n = rnd.randbytes(width * 3)
            row = bytearray(min(255, max(0, v + (d % noise) - noise // 2)) for v, d in zip(row, n))
        out[y * width * 3:(y + 1) * width * 3] = row
    return bytes(out)


def expected_colour(width, height, px, py):
    return px * 255 / (width - 1), py * 255 / (height - 1)


def make_jpeg(path, width, height, rgb, quality=95):
    ppm = path + ".ppm"
    write_ppm(ppm, width, height, rgb)
    subprocess.run(["cjpeg", "-quality", str(quality), "-outfile", path, ppm], check=True)
    os.remove(ppm)


def decode_jpeg(path):
    p = subprocess.run(["djpeg", "-pnm", path], stdout=subprocess.PIPE, check=True)
    return Picture.from_pnm(p.stdout)


def exif_density(path):
    p = subprocess.run(["exiftool", "-j", "-n", "-XResolution", "-YResolution", "-ResolutionUnit", path],
                       stdout=subprocess.PIPE, check=True)
    return json.loads(p.stdout)[0]


def check_saved_jpeg(path, size, limit):
    """The output file as a whole: under its limit, its size, 200 dots per inch."""
    check(os.path.isfile(path), "no file %s" % path)
    raw = open(path, "rb").read()
    check(len(raw) <= limit, "%s has %d bytes, more than %d" % (path, len(raw), limit))
    check(raw[:2] == b"\xff\xd8" and raw[-2:] == b"\xff\xd9", "%s is not a whole JPEG" % path)
    check(raw[2:4] == b"\xff\xe0" and raw[6:11] == b"JFIF\0", "%s does not begin with a JFIF segment" % path)
    check(raw[13] == 1 and raw[14:16] == b"\x00\xc8" and raw[16:18] == b"\x00\xc8",
          "%s: JFIF density is not 200 x 200 dots per inch: %r" % (path, raw[13:18]))
    d = exif_density(path)
    check(d.get("XResolution") == 200 and d.get("YResolution") == 200 and d.get("ResolutionUnit") == 1,
          "exiftool reads %r from %s" % (d, path))
    pic = decode_jpeg(path)
    check((pic.width, pic.height) == size, "%s is %dx%d, not %dx%d" % (path, pic.width, pic.height, *size))
    return raw, pic


# --- a scenario's frame ---------------------------------------------------------------

class Session:
    """A temporary folder, an X server and the tools to watch the program."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(prefix="corvanta-e2e-%s-" % name)
        # Only a missing X server skips; every other missing tool is a failure.
        try:
            self.xserver = XServer(self.dir)
        except SystemExit:
            shutil.rmtree(self.dir, ignore_errors=True)
            raise
        for tool in ("xdotool", "import", "xprop", "xwininfo", "djpeg", "cjpeg", "exiftool"):
            if not shutil.which(tool):
                self.xserver.stop()
                raise Failure("%s is missing (tools/setup.sh installs it)" % tool)
        try:
            self.desktop = Desktop(self.dir, self.xserver.display, desktop_kind())
        except Failure:
            self.xserver.stop()
            raise
        log("desktop: " + self.desktop.kind)
        self.x = X(self.xserver.display)
        self.home = Home(os.path.join(self.dir, "home"))
        self.apps = []

    def start(self):
        app = Corvanta(self.x, self.home, self.dir)
        self.apps.append(app)
        return app

    def close(self, ok):
        for a in self.apps:
            a.kill()
        self.desktop.stop()
        self.xserver.stop()
        if ok:
            shutil.rmtree(self.dir, ignore_errors=True)
        else:
            log("kept for inspection: " + self.dir)


def run_scenario(session_name, scenario):
    """Runs scenario(session) in a fresh session: 0 when it passes, 1 when it fails,
    with a picture of the screen at the failure kept in the session's folder."""
    # A run stopped from outside (ctest's timeout) still ends its X server and program.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        s = Session(session_name)
    except Failure as e:
        log("FAILED: %s" % e)
        return 1
    ok = False
    try:
        scenario(s)
        ok = True
    except Failure as e:
        try:
            with open(os.path.join(s.dir, "failure.png"), "wb") as f:
                f.write(s.x.run("import", "-window", "root", "png:-", check_rc=False))
        except Exception:
            pass
        log("FAILED: %s" % e)
    finally:
        s.close(ok)
    if ok:
        log("passed: " + session_name)
    return 0 if ok else 1
