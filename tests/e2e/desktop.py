"""The desktop the whole-program tests run on: openbox and picom on the
private X server, or either left out (CORVANTA_E2E_DESKTOP)."""

import os
import shutil
import subprocess
import time


class Failure(AssertionError):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def wait_for(what, fn, patience=60.0, every=0.1):
    start = time.monotonic()
    while not fn():
        if time.monotonic() - start > patience:
            raise Failure("gave up waiting for " + what)
        time.sleep(every)


# Openbox with its decorations off: the program's windows keep the outer sizes
# the client places above assume, while openbox still maps, stacks and focuses
# them as on a desktop, and picom composites them (the see-through toolbar,
# message boxes drawn by a compositor).
OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <theme><name>CorvantaE2E</name></theme>
  <applications><application class="*"><decor>no</decor></application></applications>
</openbox_config>
"""


def desktop_kind():
    """CORVANTA_E2E_DESKTOP: "compositor" (openbox and picom, the default),
    "wm" (openbox alone) or "bare" (the X server alone)."""
    kind = os.environ.get("CORVANTA_E2E_DESKTOP", "compositor")
    check(kind in ("compositor", "wm", "bare"), "CORVANTA_E2E_DESKTOP=%s is none of compositor, wm, bare" % kind)
    return kind


class Desktop:
    def __init__(self, workdir, display, kind):
        self.kind, self.procs = kind, []
        env = dict(os.environ, DISPLAY=display)
        self.log = open(os.path.join(workdir, "desktop.log"), "wb")
        if kind in ("wm", "compositor"):
            rc = os.path.join(workdir, "openbox-rc.xml")
            with open(rc, "w") as f:
                f.write(OPENBOX_RC)
            # A theme without borders: an undecorated window keeps a 1-pixel
            # border in the stock themes, which would move every client place.
            theme = os.path.join(workdir, "openbox-data", "themes", "CorvantaE2E", "openbox-3")
            os.makedirs(theme, exist_ok=True)
            with open(os.path.join(theme, "themerc"), "w") as f:
                f.write("border.width: 0\npadding.width: 0\nwindow.client.padding.width: 0\n"
                        "window.client.padding.height: 0\n")
            self._start(["openbox", "--config-file", rc],
                        dict(env, XDG_DATA_HOME=os.path.join(workdir, "openbox-data"), HOME=workdir))
            wait_for("openbox to manage the screen", lambda: self._root_has(env, "_NET_SUPPORTING_WM_CHECK"))
        if kind == "compositor":
            # xrender: Xvfb has no OpenGL. No shadows or fades, which would
            # only blur what the screenshots compare.
            self._start(["picom", "--config", "/dev/null", "--backend", "xrender", "--no-fading-openclose",
                         "--shadow-opacity", "0"], env)
            wait_for("picom to take the screen", lambda: self._compositing(env))

    def _start(self, argv, env):
        exe = shutil.which(argv[0])
        check(exe, "%s is missing (tools/setup.sh installs it)" % argv[0])
        self.procs.append(subprocess.Popen([exe] + argv[1:], env=env, stdout=self.log, stderr=self.log))

    def _alive(self):
        for p in self.procs:
            check(p.poll() is None, "%s ended at start (see %s)" % (p.args[0], self.log.name))

    def _root_has(self, env, atom):
        self._alive()
        p = subprocess.run(["xprop", "-root", atom], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return b"window id" in p.stdout

    def _compositing(self, env):
        # picom names the window that holds the compositing manager's selection.
        self._alive()
        p = subprocess.run(["xwininfo", "-root", "-children"], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        return b'"picom": ("picom"' in p.stdout

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.log.close()


