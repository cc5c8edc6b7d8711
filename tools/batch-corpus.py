#!/usr/bin/env python3
"""Share of generated forms that corvanta-batch turns into both files right.

Makes N A4 pages at 200 dpi with ImageMagick (a real portrait glued on, ruled
lines, a signature stroke, skew of -3..3 degrees), runs corvanta-batch on them
with the stored frames off, and counts the pages whose photo and signature were
both saved from frames that overlap the truth (intersection over union >= 0.5,
the truth turned back by the angle the batch straightened by).

Usage: tools/batch-corpus.py BUILD_DIR [N]
"""
import json, math, os, random, subprocess, sys, tempfile

PORTRAIT = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png"


def page(n, rnd, out, W, H, mm):
    deg = rnd.choice([0, 0, -1, 1, -2, 2, -3, 3])
    px, py, pw, ph = mm(rnd.uniform(120, 150)), mm(rnd.uniform(20, 40)), mm(35), mm(45)
    sx, sy, sw, sh = mm(rnd.uniform(90, 120)), mm(rnd.uniform(235, 255)), mm(70), mm(16)
    face = os.path.join(out, "face.png")
    subprocess.run(["convert", PORTRAIT, "-crop", "300x390+100+10", "+repage", "-resize", f"{pw}x{ph}!", face], check=True)
    path = "M %d,%d" % (sx + sw * 0.05, sy + sh * 0.6)
    for i in range(1, 13):
        path += " Q %d,%d %d,%d" % (sx + sw * (0.035 + 0.075 * i), sy + sh * (0.1 if i % 2 else 0.9),
                                    sx + sw * (0.05 + 0.075 * i), sy + sh * 0.55)
    lines = []
    for i in range(18):
        y = mm(90 + i * 8.5)
        lines += ["-draw", f"line {mm(20)},{y} {mm(190)},{y}"]
    name = os.path.join(out, "pagine", f"modulo_{n:03d}.jpg")
    subprocess.run(["convert", "-size", f"{W}x{H}", "xc:#FAF9F4", "-stroke", "#787878", "-strokewidth", "2"] + lines +
                   [face, "-geometry", f"+{px}+{py}", "-composite", "-fill", "none", "-stroke", "#141E6E",
                    "-strokewidth", "5", "-draw", f"path '{path}'", "-background", "#FAF9F4", "-rotate", str(deg),
                    "-gravity", "center", "-extent", f"{W}x{H}", "-quality", "90", name], check=True)
    return name, deg, (px, py, px + pw, py + ph), (sx, sy, sx + sw, sy + sh)


def turned(box, deg, W, H):
    cx, cy, a = W / 2, H / 2, math.radians(deg)
    pts = []
    for X, Y in [(box[0], box[1]), (box[2], box[1]), (box[0], box[3]), (box[2], box[3])]:
        dx, dy = X - cx, Y - cy
        pts.append((cx + dx * math.cos(a) - dy * math.sin(a), cy + dx * math.sin(a) + dy * math.cos(a)))
    return (min(p[0] for p in pts), min(p[1] for p in pts), max(p[0] for p in pts), max(p[1] for p in pts))


def iou(a, b):
    w = min(a[2], b[2]) - max(a[0], b[0])
    h = min(a[3], b[3]) - max(a[1], b[1])
    if w <= 0 or h <= 0:
        return 0.0
    i = w * h
    return i / ((a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - i)


def main():
    build, n = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 24
    dpi = 200
    mm = lambda v: round(v * dpi / 25.4)
    W, H = mm(210), mm(297)
    rnd = random.Random(23)
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "pagine"))
        os.makedirs(os.path.join(tmp, "uscita"))
        truth = {}
        for i in range(n):
            name, deg, photo, sig = page(i, rnd, tmp, W, H, mm)
            truth[os.path.basename(name)] = (deg, photo, sig)
        ini = os.path.join(tmp, "s.ini")
        open(ini, "w").write("[FormOptions]\nCkStoreSelections=0\nCkStoreEditSliders=0\n")
        run = subprocess.run([os.path.join(build, "corvanta-batch"), "--settings", ini, "--out",
                              os.path.join(tmp, "uscita"), "--json", "-", os.path.join(tmp, "pagine")],
                             capture_output=True, text=True)
        right = 0
        for line in run.stdout.splitlines():
            o = json.loads(line)
            deg, photo, sig = truth[os.path.basename(o["file"])]
            # The batch straightened by o["degrees"] (clockwise): the truth turned by the page's own skew plus that.
            rest = deg + o["degrees"]
            ok = all(o[k]["saved"] and "frame" in o[k] and iou(o[k]["frame"], turned(b, rest, W, H)) >= 0.5
                     for k, b in (("foto", photo), ("firma", sig)))
            right += ok
        print(f"{right} of {n} pages with both files right ({100.0 * right / n:.0f}%); corvanta-batch exit {run.returncode}")


if __name__ == "__main__":
    main()
