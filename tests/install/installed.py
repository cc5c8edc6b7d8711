"""The program as installed: from a staged prefix, and from the Debian package.

  installed.py prefix BUILD_DIR    cmake --install into a temporary prefix; the
                                   installed files validated; the program run from
                                   there, then again with its manual and source
                                   manager removed.
  installed.py package BUILD_DIR   tools/package.sh builds and checks the .deb; it is
                                   installed with apt-get, /usr/bin/corvanta is run
                                   with a fresh HOME, and the package removed again.

Both drive the program from outside, as the whole-program tests do (tests/e2e/).
Exit 77 (ctest's skip) only where an X server cannot start or, for the package,
where this is not root on a machine with apt-get and dpkg.
"""

import glob
import os
import shutil
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from corvanta_e2e import (VIEW, Failure, check, gradient, log, make_jpeg, run_scenario,  # noqa: E402
                          skip, source_dir, wait_for)

APP_ID = "example.lodrevan.Corvanta"
SCAN_DIALOG = "^Acquisizione - "
MESSAGE_TITLE = "^Corvanta$"


def run(*args, **kw):
    log("$ " + " ".join(args))
    p = subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)
    out = p.stdout.decode(errors="replace")
    if p.returncode != 0:
        raise Failure("%s failed (exit %d):\n%s" % (" ".join(args), p.returncode, out[-4000:]))
    return out


def validate_metadata(prefix):
    desktop = os.path.join(prefix, "share", "applications", APP_ID + ".desktop")
    metainfo = os.path.join(prefix, "share", "metainfo", APP_ID + ".metainfo.xml")
    for f in (desktop, metainfo):
        check(os.path.isfile(f), "not installed: " + f)
    out = run("desktop-file-validate", desktop)
    check("error" not in out.lower(), "desktop-file-validate: " + out)
    run("appstreamcli", "validate", "--no-net", metainfo)
    for size in ("48x48", "128x128", "256x256"):
        png = os.path.join(prefix, "share", "icons", "hicolor", size, "apps", APP_ID + ".png")
        check(os.path.isfile(png), "no %s icon: %s" % (size, png))
        with open(png, "rb") as f:
            head = f.read(24)
        dim = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
        check(head[:8] == b"\x89PNG\r\n\x1a\n" and "%dx%d" % dim == size, "%s is not a %s PNG" % (png, size))
    check(os.path.isfile(os.path.join(prefix, "share", "icons", "hicolor", "scalable", "apps", APP_ID + ".svg")),
          "no scalable icon")


def recording_launcher(bindir, record):
    """A stand-in for xdg-open that only notes what it was asked to open: the PDF
    viewer itself is outside what is tested, the hand-over to it is not."""
    os.makedirs(bindir, exist_ok=True)
    path = os.path.join(bindir, "xdg-open")
    with open(path, "w") as f:
        f.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" >> '%s'\n" % record)
    os.chmod(path, stat.S_IRWXU)


def mapped(pid, fragment):
    with open("/proc/%d/maps" % pid) as f:
        return sorted({line.split()[-1] for line in f if fragment in line and "/" in line})


def manual_link(app):
    """Client point of "manuale d'uso": the one white text on the guide panel."""
    shot = app.shot()
    xs, ys = [], []
    for y in range(380, 520):
        for x in range(200, 600):
            if min(shot.pixel(x, y)) >= 245:
                xs.append(x)
                ys.append(y)
    check(xs, "no white link text on the guide panel")
    return sum(xs) // len(xs), sum(ys) // len(ys)


def answer_message(s, app, title):
    """Waits for a message box of the program and closes it with Enter, as a user
    who has read it does. Its Italian text is checked by the unit tests."""
    box = app.dialog(title)
    check(has_icon(s, box), "the message box \"%s\" has no icon" % title)
    s.x.xdo("windowfocus", "--sync", box, check_rc=False)
    time.sleep(0.3)
    s.x.key("Return")
    app.no_dialog(title)


def start(s, exe, path_dirs):
    os.environ["CORVANTA_EXE"] = exe
    env_path = ":".join(path_dirs)
    orig = s.home.env

    def env(display):
        e = orig(display)
        e["PATH"] = env_path
        return e

    s.home.env = env
    return s.start()


def has_icon(s, win):
    """Whether the window carries an icon for the window manager (_NET_WM_ICON)."""
    out = s.x.run("xprop", "-id", str(win), "_NET_WM_ICON", check_rc=False).decode(errors="replace")
    return out.startswith("_NET_WM_ICON(CARDINAL)")


def check_running(s, app, exe, dsm_dir, manual, record):
    pid = app.proc.pid
    # Qt sets _NET_WM_ICON from the application's icon on every window it maps.
    check(has_icon(s, app.win), "the main window has no icon")
    qm = mapped(pid, "qtbase_it.qm")
    check(qm, "Qt's Italian catalogue is not loaded")
    log("catalogue: " + ", ".join(qm))

    # "manuale d'uso" hands the installed manual to the desktop's launcher.
    app.click(*manual_link(app))
    wait_for("the manual handed to xdg-open", lambda: os.path.isfile(record))
    got = open(record).read().split()
    check(got and (got[0] == manual or got[0] == "file://" + manual),
          "xdg-open was asked to open %r, not %s" % (got, manual))

    # The scanner command loads the installed source manager, whose dialog comes up.
    app.focus()
    s.x.key("s")
    box = app.dialog(SCAN_DIALOG)
    dsm = mapped(pid, "libcorvanta_dsm.so")
    check(dsm == [os.path.join(dsm_dir, "libcorvanta_dsm.so")],
          "source manager loaded from %r, not from %s" % (dsm, dsm_dir))
    check(has_icon(s, box), "the scanner's dialog has no icon")
    s.x.xdo("windowfocus", "--sync", box, check_rc=False)
    time.sleep(0.3)
    s.x.key("Escape")
    app.no_dialog(SCAN_DIALOG)


def prefix_scenario(s, build):
    prefix = os.path.join(s.dir, "prefix")
    run("cmake", "--install", build, "--prefix", prefix)
    validate_metadata(prefix)
    exe = os.path.join(prefix, "bin", "corvanta")
    dsm_dir = glob.glob(os.path.join(prefix, "lib*", "**", "corvanta"), recursive=True)
    check(len(dsm_dir) == 1, "no single private library folder under %s: %r" % (prefix, dsm_dir))
    dsm_dir = dsm_dir[0]
    manual = os.path.join(prefix, "share", "doc", "corvanta", "corvanta.pdf")
    check(os.path.isfile(manual), "the manual is not installed at " + manual)

    bindir = os.path.join(s.dir, "bin")
    record = os.path.join(s.dir, "opened.txt")
    recording_launcher(bindir, record)
    app = start(s, exe, [bindir, "/usr/bin", "/bin"])
    check_running(s, app, exe, dsm_dir, manual, record)
    check(app.quit() == 0, "the installed program did not end cleanly")

    # Without the manual and the source manager the program still starts, and says
    # in Italian what is missing, naming the file.
    os.remove(manual)
    os.remove(os.path.join(dsm_dir, "libcorvanta_dsm.so"))
    app = start(s, exe, [bindir, "/usr/bin", "/bin"])
    app.click(*manual_link(app))
    answer_message(s, app, MESSAGE_TITLE)
    app.focus()
    s.x.key("s")
    answer_message(s, app, "^Errore$")
    check(not s.x.visible(SCAN_DIALOG, app.proc.pid), "a scan dialog came up without a source manager")
    check(app.alive(), "the program ended after a missing file")
    check(app.quit() == 0, "the program did not end cleanly without its manual and source manager")

    # A picture handed over on the command line, as "Apri con" does, shows in the view.
    jpg = os.path.join(s.dir, "modulo con spazi.jpg")
    make_jpeg(jpg, 800, 600, gradient(800, 600, noise=0))
    launcher = os.path.join(s.dir, "open-with.sh")
    with open(launcher, "w") as f:
        f.write("#!/bin/sh\nexec '%s' '%s'\n" % (exe, jpg))
    os.chmod(launcher, stat.S_IRWXU)
    app = start(s, launcher, [bindir, "/usr/bin", "/bin"])
    x, y, w, h = VIEW

    def picture_shown():
        shot = app.shot()
        left = shot.mean(x + 40, y + h // 2 - 20, 40, 40)
        right = shot.mean(x + w - 80, y + h // 2 - 20, 40, 40)
        return right[0] - left[0] > 150 and abs(right[1] - left[1]) < 20

    wait_for("the picture named on the command line in the view", picture_shown)
    check(app.quit() == 0, "the program did not end cleanly after opening a file from the command line")


def package_scenario(s, build):
    if os.geteuid() != 0:
        skip("installing a package needs root")
    for tool in ("apt-get", "dpkg", "dpkg-query"):
        if not shutil.which(tool):
            skip("%s is not available: not a Debian system" % tool)
    env = dict(os.environ, CORVANTA_BUILD_DIR=build)
    out = run(os.path.join(source_dir(), "tools", "package.sh"), env=env)
    deb = out.strip().splitlines()[-1]
    check(os.path.isfile(deb) and os.path.basename(deb).startswith("corvanta_"), "package.sh made no package: " + deb)
    # One version everywhere: the project's, in the package, its file name and the AppStream releases.
    version = os.environ.get("CORVANTA_VERSION", "")
    check(version and run("dpkg-deb", "-f", deb, "Version").strip() == version,
          "the package's version is not the project's %r" % version)
    check(os.path.basename(deb).startswith("corvanta_%s_" % version), "package file name " + deb)
    fields = run("dpkg-deb", "-f", deb, "Depends", "Recommends")
    for need in ("qt6-translations-l10n", "libsane1", "qt6-image-formats-plugins", "libqt6widgets6", "sane-utils"):
        check(need in fields, "%s is not among the package's relations:\n%s" % (need, fields))

    apt = ["apt-get", "-y", "-q", "--no-install-recommends", "-o", "DPkg::Lock::Timeout=600"]
    aptenv = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(*apt, "install", "--reinstall", os.path.abspath(deb), env=aptenv)
    try:
        validate_metadata("/usr")
        with open("/usr/share/metainfo/%s.metainfo.xml" % APP_ID, encoding="utf-8") as f:
            check('<release version="%s"' % version in f.read(), "no AppStream release for " + version)
        arch = run("dpkg", "--print-architecture").strip()
        multiarch = run("dpkg-architecture", "-qDEB_HOST_MULTIARCH").strip() if shutil.which(
            "dpkg-architecture") else arch
        dsm_dir = "/usr/lib/%s/corvanta" % multiarch
        manual = "/usr/share/doc/corvanta/corvanta.pdf"
        bindir = os.path.join(s.dir, "bin")
        record = os.path.join(s.dir, "opened.txt")
        recording_launcher(bindir, record)
        app = start(s, "/usr/bin/corvanta", [bindir, "/usr/bin", "/bin"])
        check_running(s, app, "/usr/bin/corvanta", dsm_dir, manual, record)
        check(app.quit() == 0, "the packaged program did not end cleanly")
    finally:
        run(*apt, "purge", "corvanta", env=aptenv)
    check(not os.path.exists("/usr/bin/corvanta"), "/usr/bin/corvanta is still there after the package's removal")


SCENARIOS = {"prefix": prefix_scenario, "package": package_scenario}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in SCENARIOS:
        print("usage: installed.py {prefix,package} BUILD_DIR")
        return 2
    name, build = sys.argv[1], os.path.abspath(sys.argv[2])
    return run_scenario("install-" + name, lambda s: SCENARIOS[name](s, build))

if __name__ == "__main__":
    sys.exit(main())
