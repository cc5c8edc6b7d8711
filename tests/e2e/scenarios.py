"""Whole-program scenarios of corvanta, one per ctest test: scenarios.py NAME.

Each starts the real program in a fresh home under its own X server, works it
with the mouse and the keyboard, and judges only what a user or another program
can see from outside: windows, pixels on the screen, the INI file and the files
written to disk.
"""

import os
import select
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from corvanta_e2e import *  # noqa: E402,F401,F403

# The source picture: red grows to the right, green downwards (see gradient()).
W, H = 1200, 1000
CLICK = (300, 360)                 # a point on the view, client coordinates
PHOTO_FRAME_AT_ZOOM_1 = (170, 178)  # 259 x 314 frame centred in the 599 x 671 view
SIGNATURE_FRAME_AT_ZOOM_1 = (182, 312)
GREEN = (0x16, 0x6D, 0x14)          # the active slot's frame: TColor $146D16 as red, green, blue


def near(a, b, tol):
    return all(abs(x - y) <= tol for x, y in zip(a, b))


def source_picture(s, name="modulo.jpg", **kw):
    path = os.path.join(s.dir, name)
    make_jpeg(path, W, H, gradient(W, H, **kw))
    return path


def mode_is(app, which):
    """The active slot's frame turns green; the other stays light grey."""
    shot = app.shot()
    foto = shot.pixel(621, 250)
    firma = shot.pixel(621, 440)
    want, other = (foto, firma) if which == "foto" else (firma, foto)
    return near(want, GREEN, 12) and not near(other, GREEN, 12)


def frame(app, prefix):
    """The stored frame of a mode and the picture part shown, from the INI file."""
    o = app.home.read_ini().get("formoptions", {})
    keys = ["Selected.Left", "Selected.Top", "Selected.Right", "Selected.Bottom",
            "Origin.Left", "Origin.Top"]
    if not all((prefix + k).lower() in o for k in keys):
        return None
    return [int(o[(prefix + k).lower()]) for k in keys]


def expected_crop_colour(f):
    """Red and green in the middle of a frame cut at zoom 1 (view pixel = picture pixel)."""
    left, top, right, bottom, ox, oy = f
    return expected_colour(W, H, ox + (left + right) / 2, oy + (top + bottom) / 2)


def wait_frame(app, prefix, left, top):
    return wait_for("%sSelected at %d, %d in the INI file" % (prefix, left, top),
                    lambda: (lambda f: f if f and f[0] == left and f[1] == top else None)(frame(app, prefix)))


def enter_photo_mode(app, at=CLICK):
    app.click(*at)
    wait_for("the photo mode (green photo frame)", lambda: mode_is(app, "foto"))


def crop_photo(app, dx, dy):
    """Moves the photo frame by (dx, dy) with the mouse; the release crops."""
    fx, fy = PHOTO_FRAME_AT_ZOOM_1
    cx, cy = 3 + fx + 130, fy + 157
    app.drag(cx, cy, cx + dx, cy + dy)
    return wait_frame(app, "Foto.", fx + dx, fy + dy)


def start_with_photo_crop(s):
    """The program on the source picture, with a photo cropped 100, 50 from
    the frame's first place; returns the program and the frame."""
    app = s.start()
    app.open_file(source_picture(s))
    enter_photo_mode(app)
    return app, crop_photo(app, 100, 50)


def slot_colour_matches(app, rect, rg, tol=8):
    m = app.shot().mean(*rect)
    return near(m[:2], rg, tol) and m


def luminance(rgb):
    return 0.3 * rgb[0] + 0.6 * rgb[1] + 0.1 * rgb[2]


# --- 1 ---------------------------------------------------------------------------------

def first_start(s):
    app = s.start()
    sw, sh = s.xserver.width, s.xserver.height
    g = app.geometry()
    check(g == ((sw - 900) // 2, (sh - 725) // 2, 900, 725),
          "first start: window at %r, not 900 x 725 centred on %d x %d" % (g, sw, sh))
    # Esc answered with No leaves the program running.
    app.press_for("Escape", "^Conferma$")
    time.sleep(0.2)
    s.x.key("Escape")
    app.no_dialog("^Conferma$")
    time.sleep(0.5)
    check(app.alive(), "Esc answered with No ended the program")
    check(app.quit() == 0, "the program did not end cleanly")
    pos = s.home.read_ini().get("formcrop", {})
    check(pos == {"top": str(g[1]), "left": str(g[0]), "width": "900", "height": "725"},
          "stored window position %r, expected %r" % (pos, g))

    # The first start creates the settings folder; from the next start on the
    # first-start options are in the file.
    app = s.start()
    check(app.geometry() == g, "second start: window at %r, not at the stored %r" % (app.geometry(), g))
    want = [
        ("appconfigpath", s.home.ini_dir + "/"),
        ("edfilesoutput", s.home.desktop + "/"),
        ("scannercfg.resolution", "200"),
        ("rbfotostartdefault", "1"),
        ("ckminsizesel", "1"),
        ("ckcropmouseup", "1"),
        ("ckstoreeditsliders", "1"),
        ("ckstoreselections", "1"),
        ("ckfirmagrayscale", "1"),
        ("flspicpath", s.home.pictures + "/"),
        ("ckfotopreviewbw", "0"),
    ]
    opts = app.wait_ini("the first-start options", lambda o: len(o) >= len(want) and o)
    got = [(k, opts.get(k)) for k, _ in want]
    check(got == want, "first-start options %r, expected %r" % (got, want))
    order = [line.split("=", 1)[0].lower() for line in open(s.home.ini) if "=" in line]
    check([k for k in order if k in dict(want)] == [k for k, _ in want],
          "first-start options written in the order %r" % order)
    check(app.quit() == 0, "the program did not end cleanly")


# --- 2 ---------------------------------------------------------------------------------

def view_centre(app):
    x, y, w, h = VIEW
    return app.shot().mean(x + w // 2 - 10, y + h // 2 - 10, 20, 20)


def open_and_drop(s):
    jpg = source_picture(s, noise=0)
    other = os.path.join(s.dir, "trascinato.bmp")
    write_bmp(other, 500, 400, bytes([40, 200, 220]) * (500 * 400))
    app = s.start()
    empty = app.shot()

    app.open_file(jpg)
    # Fitted into the view: red grows from its left to its right edge.
    x, y, w, h = VIEW
    shot = wait_for("the chosen picture in the view",
                    lambda: (lambda p: p if near(p.mean(x + w // 2 - 10, y + h // 2 - 10, 20, 20),
                                                 (127, 127, 96), 20) else None)(app.shot()))
    left = shot.mean(x + 40, y + h // 2 - 20, 40, 40)
    right = shot.mean(x + w - 80, y + h // 2 - 20, 40, 40)
    check(right[0] - left[0] > 150 and abs(right[1] - left[1]) < 20,
          "the view does not show the chosen picture: left %r, right %r" % (left, right))
    check(empty.differs(shot) > 100000, "the guide panel is still shown")

    # A real XDND drag from another program onto the window.
    helper = os.environ.get("CORVANTA_E2E_DRAG")
    check(helper and os.access(helper, os.X_OK), "CORVANTA_E2E_DRAG does not name the drag helper")
    gx, gy, gw, gh = app.geometry()
    sx, sy = gx + gw + 40, gy + 40
    drag = subprocess.Popen([helper, other, str(sx), str(sy)], env=dict(s.x.env, QT_QPA_PLATFORM="xcb"),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        check(read_line(drag, "the drag helper's window") == "ready", "the drag helper did not start")
        wait_for("the drag helper's window", lambda: s.x.visible("^e2e drag source$", drag.pid))
        time.sleep(0.3)
        s.x.move(sx + 40, sy + 40)
        s.x.xdo("mousedown", 1)
        tx, ty = app.at(300, 360)
        for i in range(1, 21):
            s.x.move(sx + 40 + (tx - sx - 40) * i / 20, sy + 40 + (ty - sy - 40) * i / 20)
            time.sleep(0.05)
        time.sleep(0.5)
        s.x.move(tx + 5, ty + 5)
        time.sleep(0.5)
        s.x.xdo("mouseup", 1)
        result = read_line(drag, "the end of the drag")
        check(result == "copy", "the window did not accept the dropped file (drag ended with %r)" % result)
        # The window fetches the file's name from the source after the drop.
        wait_for("the dropped picture in the view", lambda: near(view_centre(app), (40, 200, 220), 12))
    finally:
        if drag.poll() is None:
            drag.kill()
        drag.wait()
    check(app.quit() == 0, "the program did not end cleanly")


def read_line(proc, what):
    end = time.monotonic() + PATIENCE
    while time.monotonic() < end:
        ready, _, _ = select.select([proc.stdout], [], [], 0.5)
        if ready:
            return proc.stdout.readline().decode().strip()
        if proc.poll() is not None:
            break
    raise Failure("no answer from " + what)


# --- 3 ---------------------------------------------------------------------------------

def framing(s):
    pic = source_picture(s)
    app = s.start()
    app.open_file(pic)
    placeholder = app.shot().crop(*PHOTO_SLOT)
    enter_photo_mode(app)
    time.sleep(0.5)
    check(frame(app, "Foto.") is None, "a click that only places the frame cropped")

    # Moved with the mouse: the release crops the framed part into the slot.
    f = crop_photo(app, 100, 50)
    check(f[2] - f[0] == 259 and f[3] - f[1] == 314, "the moved photo frame changed its size: %r" % f)
    rg = expected_crop_colour(f)
    m = wait_for("the photo slot to show the crop", lambda: slot_colour_matches(app, PHOTO_SLOT, rg))
    check(app.shot().crop(*PHOTO_SLOT).differs(placeholder) > 50000, "the photo slot still shows its placeholder")

    # Resized by its lower right corner: the photo proportion holds.
    fx, fy = f[0], f[1]
    app.drag(3 + f[2], f[3], 3 + f[2] + 60, f[3] + 40)
    g = wait_for("the resized photo frame", lambda: (lambda n: n if n and n[2] != f[2] else None)(frame(app, "Foto.")))
    w, h = g[2] - g[0], g[3] - g[1]
    check((g[0], g[1]) == (fx, fy) and w > 259 and abs(w * 314 / 259 - h) <= 2,
          "resized photo frame %r does not keep 259 : 314" % g)
    # The bigger frame reaches further right and down: its middle is redder and greener.
    m2 = wait_for("the photo slot to show the larger crop",
                  lambda: slot_colour_matches(app, PHOTO_SLOT, expected_crop_colour(g)))
    check(m2[0] > m[0] + 3 and m2[1] > m[1] + 3, "the slot did not follow the resized frame: %r then %r" % (m, m2))

    # Signature: key 2 places its frame, the release crops into the grey slot.
    app.key("2")
    wait_for("the signature mode (green signature frame)", lambda: mode_is(app, "firma"))
    sx, sy = SIGNATURE_FRAME_AT_ZOOM_1
    app.drag(3 + sx + 117, sy + 23, 3 + sx + 117 - 80, sy + 23 + 120)
    fs = wait_frame(app, "Firma.", sx - 80, sy + 120)
    check(fs[2] - fs[0] == 235 and fs[3] - fs[1] == 46, "the moved signature frame changed its size: %r" % fs)
    rg = expected_crop_colour(fs)
    grey = luminance((rg[0], rg[1], 96))

    def signature_grey():
        p = app.shot().crop(*SIGNATURE_SLOT)
        return p.grey_spread() < 4 and abs(p.mean()[0] - grey) < 10 and p

    wait_for("a grey crop of luminance %.0f in the signature slot" % grey, signature_grey)
    check(app.quit() == 0, "the program did not end cleanly")

    # With the automatic crop switched off, the release only frames and the
    # save button ("RITAGLIA") crops; its next press saves.
    s.home.write_options(CkCropMouseUp="0")
    app = s.start()
    app.open_file(pic)
    placeholder = app.shot().crop(*PHOTO_SLOT)
    enter_photo_mode(app)
    fx, fy = PHOTO_FRAME_AT_ZOOM_1
    app.drag(3 + fx + 130, fy + 157, 3 + fx + 130 + 100, fy + 157 + 50)
    time.sleep(1.5)
    check(frame(app, "Foto.") is None, "the release cropped although the automatic crop is off")
    check(app.shot().crop(*PHOTO_SLOT).differs(placeholder) < 100, "the photo slot changed without a crop")
    app.click(*SAVE_BUTTON)
    f = wait_frame(app, "Foto.", fx + 100, fy + 50)
    wait_for("the photo slot to show the crop", lambda: slot_colour_matches(app, PHOTO_SLOT, expected_crop_colour(f)))
    time.sleep(1)
    check(not s.x.visible("^Nome per il file da salvare$"), "the crop press also asked for a file name")
    app.click(*SAVE_BUTTON)
    app.dialog("^Nome per il file da salvare$")
    time.sleep(0.2)
    s.x.type("Ritaglio")
    s.x.key("Return")
    check_saved_jpeg(saved(s, "RitaglioFoto.jpg"), (260, 315), PHOTO_LIMIT)
    check(app.quit() == 0, "the program did not end cleanly")


# --- 4 ---------------------------------------------------------------------------------

def slider_values(app):
    o = app.home.read_ini().get("formoptions", {})
    return [int(o.get("foto.slider." + k, "-999")) for k in ("light", "contr", "darkn", "color", "sharp")]


def saved(s, name):
    """The output file once the save is over, and the INI file at rest after it."""
    path = os.path.join(s.home.desktop, name)

    def read():
        try:
            with open(path, "rb") as f:
                return f.read()
        except OSError:
            return None

    def final():
        # The compression loop rewrites the file until it fits, then the density
        # step writes it once more; a file at rest with its density set is done.
        a = read()
        if not a:
            return None
        time.sleep(0.5)
        if a != read():
            return None
        if a[13:18] == b"\x01\x00\xc8\x00\xc8":
            return True
        time.sleep(3)
        return a == read()

    wait_for(name, final)
    # The save command stores the slider values right after the file.
    wait_for("the INI file at rest", lambda: ini_at_rest(s.home))
    return path


def ini_at_rest(home):
    def stamp():
        try:
            st = os.stat(home.ini)
            return st.st_ino, st.st_mtime_ns, st.st_size
        except OSError:
            return None
    a = stamp()
    time.sleep(0.5)
    return a == stamp()


def save_as(s, app, prefix=None, name=None):
    app.save(prefix)
    return saved(s, name or prefix.strip() + "Foto.jpg")


def sliders(s):
    app, _ = start_with_photo_crop(s)
    base = decode_jpeg(save_as(s, app, "base")).mean()
    check(slider_values(app) == [0, 0, 0, 0, 0], "untouched sliders stored as %r" % slider_values(app))

    # Luminosità dragged by its handle to the right.
    hx = SLIDER_X + SLIDER_W // 2
    app.drag(hx, SLIDER_Y[0], hx + 40, SLIDER_Y[0])
    luce = save_as(s, app, "luce")
    v = slider_values(app)
    check(20 <= v[0] <= 100 and v[1:] == [0, 0, 0, 0], "after dragging Luminosità the stored values are %r" % v)
    lit = decode_jpeg(luce).mean()
    check(luminance(lit) > luminance(base) + 10, "Luminosità %d did not brighten the photo: %r then %r"
          % (v[0], base, lit))

    # The keys: L picks Luminosità, C Contrasto, D Definizione; the arrows step by one.
    app.key("l", "Right", "Right", "Right", "c", "Left", "Left", "Left", "Left", "Left", "d", "Right", "Right")
    tasti = save_as(s, app, "tasti")
    w = slider_values(app)
    check(w == [v[0] + 3, -5, 0, 0, 2], "after the arrow keys the stored values are %r, expected %r"
          % (w, [v[0] + 3, -5, 0, 0, 2]))
    keyed = decode_jpeg(tasti)
    check(keyed.differs(decode_jpeg(luce), 12) > 1000,
          "contrast and sharpness left the saved photo as it was")
    # The arrows stop at the ends of a slider's range.
    app.key("d", *["Right"] * 5)
    save_as(s, app, "massimo")
    check(slider_values(app)[4] == 3, "Definizione went past 3: %r" % slider_values(app))
    check(app.quit() == 0, "the program did not end cleanly")


# --- 5 ---------------------------------------------------------------------------------

def save(s):
    app, f = start_with_photo_crop(s)
    target = save_as(s, app, "  Rossi ")
    raw, photo = check_saved_jpeg(target, (260, 315), PHOTO_LIMIT)
    check(near(photo.mean()[:2], expected_crop_colour(f), 8), "the saved photo is not the framed part")
    # The noisy crop does not fit at quality 100: the limit was reached by lowering it.
    ppm = os.path.join(s.dir, "foto.ppm")
    write_ppm(ppm, photo.width, photo.height, photo.data)
    q100 = subprocess.run(["cjpeg", "-quality", "100", ppm], stdout=subprocess.PIPE, check=True).stdout
    check(len(q100) > PHOTO_LIMIT, "test picture too plain to prove the size limit (%d bytes)" % len(q100))
    # The working copy differs from the output only in the density bytes; it
    # reaches the disk just after the output.
    tmp_path = os.path.join(s.home.ini_dir, "Foto.jpg")
    wait_for("the working copy", lambda: os.path.isfile(tmp_path))
    tmp = open(tmp_path, "rb").read()
    check(len(tmp) == len(raw) and tmp[:13] == raw[:13] and tmp[18:] == raw[18:],
          "the output is not the compressed working copy with a new density")

    # Signature: the name dialog offers the last prefix; Enter takes it.
    app.key("2")
    wait_for("the signature mode", lambda: mode_is(app, "firma"))
    sx, sy = SIGNATURE_FRAME_AT_ZOOM_1
    app.drag(3 + sx + 117, sy + 23, 3 + sx + 117 + 60, sy + 23 + 200)
    wait_frame(app, "Firma.", sx + 60, sy + 200)
    # All by keyboard this time: Enter opens the name dialog, Enter takes the
    # offered prefix. The save then runs once: no second name dialog follows.
    app.press_for("Return", "^Nome per il file da salvare$")
    s.x.key("Return")
    target = saved(s, "RossiFirma.jpg")
    time.sleep(2)
    check(not s.x.visible("^Nome per il file da salvare$"),
          "Enter in the main window asked for a file name again after the save")
    raw, sig = check_saved_jpeg(target, (236, 47), SIGNATURE_LIMIT)
    check(sig.grey_spread() < 4, "the saved signature is not grey")
    check(sorted(os.listdir(s.home.desktop)) == ["RossiFirma.jpg", "RossiFoto.jpg"],
          "the output folder holds %r" % os.listdir(s.home.desktop))
    check(app.quit() == 0, "the program did not end cleanly")


# --- 6 ---------------------------------------------------------------------------------

def restart(s):
    app, _ = start_with_photo_crop(s)
    app.key("l", *["Right"] * 10, "e", *["Right"] * 20)
    save_as(s, app, "uno")
    check(slider_values(app) == [10, 0, 0, 20, 0], "stored photo retouch %r" % slider_values(app))
    s.x.xdo("windowmove", "--sync", app.win, 40, 30)
    wait_for("the window at 40, 30", lambda: app.geometry()[:2] == (40, 30))
    time.sleep(0.3)
    check(app.quit() == 0, "the program did not end cleanly")
    pos = s.home.read_ini().get("formcrop", {})
    check(pos == {"top": "30", "left": "40", "width": "900", "height": "725"}, "stored position %r" % pos)

    app = s.start()
    check(app.geometry() == (40, 30, 900, 725), "the window came back at %r" % (app.geometry(),))
    app.open_file(source_picture(s))
    enter_photo_mode(app)
    # The first crop of the run takes the stored retouch values.
    f = crop_photo(app, -60, 30)
    due = save_as(s, app, "due")
    check(slider_values(app) == [10, 0, 0, 20, 0],
          "the stored retouch was not brought back: %r" % slider_values(app))
    due = decode_jpeg(due).mean()
    plain = expected_crop_colour(f)
    check(luminance(due) > luminance((plain[0], plain[1], 96)) + 4,
          "the photo of the second run is not brightened: %r for %r" % (due, plain))
    # Away to the signature and back: the photo frame, zoom and shown part return.
    app.key("2")
    wait_for("the signature mode", lambda: mode_is(app, "firma"))
    app.key("1")
    wait_for("the photo mode", lambda: mode_is(app, "foto"))
    time.sleep(0.5)
    tre = save_as(s, app, "tre")
    check(frame(app, "Foto.") == f, "the photo frame came back as %r, stored %r" % (frame(app, "Foto."), f))
    tre = decode_jpeg(tre).mean()
    check(near(tre, due, 3), "the returned frame cut another part: %r then %r" % (due, tre))
    check(app.quit() == 0, "the program did not end cleanly")


# --- 7 ---------------------------------------------------------------------------------

def scan(s):
    app = s.start()
    bmp = os.path.join(s.home.ini_dir, "Scansione.bmp")
    app.focus()
    s.x.key("s")
    box = app.dialog("^Acquisizione - ")
    # The source's own dialog: "Scansiona" is its default button.
    s.x.xdo("windowfocus", "--sync", box, check_rc=False)
    time.sleep(0.3)
    s.x.key("Return")
    wait_for("Scansione.bmp", lambda: os.path.isfile(bmp) and os.path.getsize(bmp) > 1000000)
    app.no_dialog("^Acquisizione - ")
    with open(bmp, "rb") as f:
        head = f.read(54)
    check(head[:2] == b"BM", "Scansione.bmp is not a bitmap file")
    w, h = struct.unpack("<ii", head[18:26])
    bits = struct.unpack("<H", head[28:30])[0]
    # An A4 page (210 x 297 mm) at the options' 200 dots per inch.
    check(abs(w - 1654) <= 2 and abs(abs(h) - 2339) <= 2 and bits == 24,
          "Scansione.bmp is %d x %d x %d, not an A4 page at 200 dpi in colour" % (w, h, bits))

    def pattern_shown():
        x, y, vw, vh = VIEW
        p = app.shot().crop(x + 30, y + 30, vw - 60, vh - 60)
        colours = {tuple(c // 64 for c in p.pixel(i, j)) for i in range(0, p.width, 7) for j in range(0, p.height, 7)}
        return len(colours) >= 8

    wait_for("the scanned colour pattern in the view", pattern_shown)
    check(app.quit() == 0, "the program did not end cleanly")


# --- 8 ---------------------------------------------------------------------------------

def band_rows(shot, columns):
    """Row of the dark band in each view column (darkest run, y from 100 down)."""
    x0, y0, vw, vh = VIEW
    rows = []
    for c in columns:
        col = [luminance(shot.pixel(x0 + c, y)) for y in range(y0 + 100, y0 + vh - 10)]
        dark = [i for i, v in enumerate(col) if v < min(col) + 20]
        rows.append(100 + (dark[0] + dark[-1]) / 2 if dark and dark[-1] - dark[0] < 60 else None)
    return rows


def toolbar_button(s, app, right_half):
    """A drawn pixel of the toolbar's clockwise (right half) or anticlockwise arrow:
    the spot that differs most from the picture around the toolbar, since a
    compositor shows the mostly transparent toolbar faintly over it."""
    ox, oy = app.origin()
    tx, ty = ox + 18, oy + 30
    shot = s.x.screenshot()
    ground = luminance(shot.pixel(tx + 120, ty + 28))
    xs = range(34, 50) if right_half else range(6, 24)
    best = max((abs(luminance(shot.pixel(tx + x, ty + y)) - ground), (tx + x, ty + y))
               for y in range(10, 50) for x in xs)
    check(best[0] > 12, "no rotate arrow on the toolbar (it differs by %.0f from the picture)" % best[0])
    return best[1]


def check_toolbar_lets_the_picture_through(s, app):
    """Around its icons the toolbar shows the white picture under it, never the
    black bar an uncomposited see-through window becomes. A compositor takes a
    moment to pick up a new window's transparency, hence the wait."""
    ox, oy = app.origin()
    x, y, vw, vh = VIEW

    def see_through():
        bar = s.x.screenshot().crop(ox + 18, oy + 30, vw - 18, 56)
        # Between the rotate arrows on the left and the lens on the right no icon draws.
        middle = bar.crop(80, 0, bar.width - 160, bar.height)
        dark = sum(1 for i in range(0, len(middle.data), 3) if sum(middle.data[i:i + 3]) < 200)
        # Above and below the icons (48 pixels in a 56-row bar) nothing draws either.
        edges = bar.crop(0, 0, bar.width, 3).data + bar.crop(0, bar.height - 3, bar.width, 3).data
        dark_edges = sum(1 for i in range(0, len(edges), 3) if sum(edges[i:i + 3]) < 200)
        log("toolbar: %d dark pixels between the icons, %d along its edges" % (dark, dark_edges))
        return dark == 0 and dark_edges == 0

    wait_for("the toolbar to let the picture through around its icons", see_through, patience=20, every=0.5)


def rotate(s):
    pic = os.path.join(s.dir, "riga.bmp")
    white = bytes([255]) * (W * 3)
    black_row = bytes([0]) * (W * 3)
    write_bmp(pic, W, H, b"".join(black_row if 495 <= y < 505 else white for y in range(H)))
    app = s.start()
    app.open_file(pic)
    # Click on the band: zoom 1 around it, frame placed, toolbar shown.
    x, y, vw, vh = VIEW
    band_y = wait_for("the band in the fitted view", lambda: band_rows(app.shot(), [vw // 2])[0])
    enter_photo_mode(app, (x + vw // 2, int(band_y)))
    cols = [60, 460]
    before = wait_for("a level band at zoom 1", lambda: (lambda r: r if None not in r else None)(band_rows(app.shot(), cols)))
    check(abs(before[0] - before[1]) <= 1, "the band is not level before turning: %r" % before)

    check_toolbar_lets_the_picture_through(s, app)
    cw = toolbar_button(s, app, True)
    for _ in range(5):
        s.x.click(*cw)
        time.sleep(0.4)
    dy = (cols[1] - cols[0]) * 0.0875  # tan 5 degrees

    def tilt(lo, hi):
        r = band_rows(app.shot(), cols)
        return None not in r and lo <= r[1] - r[0] <= hi and r

    after = wait_for("the band turned 5 degrees clockwise", lambda: tilt(dy - 8, dy + 8))
    ccw = toolbar_button(s, app, False)
    for _ in range(5):
        s.x.click(*ccw)
        time.sleep(0.4)
    wait_for("the band level again", lambda: tilt(-1.5, 1.5))
    # Page Down turns one degree per press while the toolbar is shown.
    app.key(*["Next"] * 3)
    wait_for("the band turned 3 degrees by Page Down", lambda: tilt(dy * 3 / 5 - 6, dy * 3 / 5 + 6))
    log("band rows before %r, after 5 clockwise %r" % (before, after))
    check(app.quit() == 0, "the program did not end cleanly")


SCENARIOS = {f.__name__: f for f in (first_start, open_and_drop, framing, sliders, save, restart, scan, rotate)}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in SCENARIOS:
        print("usage: scenarios.py {%s}" % ",".join(SCENARIOS))
        return 2
    name = sys.argv[1]
    return run_scenario(name, SCENARIOS[name])

if __name__ == "__main__":
    sys.exit(main())
