#!/usr/bin/python3
"""Check the pictures of Orvex against the list of names the program uses.

Usage:  /usr/bin/python3 res/artwork/check_artwork.py NAMES_FILE [--sheet OUT.png]

NAMES_FILE is any text that quotes the resource names, such as the program's design
document: every ".png" name inside double quotes (with or without the ":/Orvex/res/"
prefix) must be in res/orvex.qrc, load, and have the size its widget gives it where
that size is fixed. Every pair of state pictures (normal / selected, _nor / _pre,
-nor / -hor, normal / click and the named pairs below) must differ.
With --sheet, a contact sheet of all pictures and two composed previews is written.
Exit status 0 when everything holds.
"""

import os
import re
import sys
import xml.etree.ElementTree as ET

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.dirname(HERE)
QRC = os.path.join(RES, "orvex.qrc")

# sizes fixed by the widgets that show the pictures
SIZES = {
    "frame_bk1.png": (760, 540), "title_bk.png": (760, 32), "leftitems_bk.png": (154, 367),
    "new duan.png": (154, 42), "net duan xuan.png": (154, 42), "wifi.png": (154, 42),
    "wifi-xuan.png": (154, 42),
    "smallCamera_white.png": (25, 20), "smallCamera_yellow.png": (25, 20),
    "largeCamera_white.png": (31, 24), "largeCamera_yellow.png": (31, 24),
    "pictures.png": (21, 21), "sats.png": (21, 21),
    "help.png": (12, 12), "update.png": (12, 14), "shrink.png": (32, 32), "close.png": (12, 12),
    "btn_nor.png": (108, 32), "btn_blue_hover.png": (108, 32),
    "setup_normal.png": (84, 27), "photograph_normal.png": (47, 46), "photograph_click.png": (47, 46),
    "normal.png": (74, 24), "wenti.png": (74, 24), "round_normal.png": (16, 16),
    "round_error.png": (16, 16), "icon111.png": (571, 381), "configtest_bk.png": (606, 508),
    "fixeddiatance_normal.png": (104, 35), "fixeddiatance_click.png": (104, 35),
    "fixedtime_normal.png": (104, 35), "fixedtime_click.png": (104, 35),
    "elge_normal.png": (119, 35), "elge_click.png": (119, 35),
    "IO_normal.png": (120, 35), "IO_click.png": (120, 35),
    "pwm_normal.png": (139, 35), "pwm_click.png": (139, 35),
}
for _n in ("deviceInfo_normal", "deviceInfo_selected", "configTest_normal", "configTest_selected",
           "collectAssistant_normal", "collectAssistant_selected", "posnor", "possele",
           "yingxiangnor", "yingxiangsele", "yingxiangqingkongnor", "yingxiangqingkongselect"):
    SIZES[_n + ".png"] = (154, 36)
LOGO_WIDTH = 108

# pairs whose names do not follow a normal/selected pattern
NAMED_PAIRS = [
    ("new duan.png", "net duan xuan.png"), ("wifi.png", "wifi-xuan.png"), ("new duan.png", "wifi.png"),
    ("btn_nor.png", "btn_blue_hover.png"), ("begin.png", "zanting.png"), ("normal.png", "wenti.png"),
    ("round_normal.png", "round_error.png"), ("smallCamera_white.png", "smallCamera_yellow.png"),
    ("largeCamera_white.png", "largeCamera_yellow.png"), ("xuanzhuan.png", "xuanzhuan1.png"),
    ("xuanzhuan1.png", "xuanzhuan2.png"), ("xuanzhuan.png", "xuanzhuan2.png"),
    ("caijicelv.png", "sehbeitiaoshi.png"), ("btn_download_nor.png", "quxiaoxiazai.png"),
    ("ok.png", "icon_fail.png"),
]

REST = re.compile(r"^(.*?)[ _-]*(normal|nor)$")
ACTIVE = re.compile(r"^(.*?)[ _-]*(selected|select|sele|click|pre|hover|hor|xuan)$")


def names_in_document(path):
    with open(path, encoding="utf-8") as f:
        doc = f.read()
    names = set(re.findall(r'"(?::/Orvex/res/)?([^"/\n]*?\.png)"', doc))
    # a looser scan for names that are not quoted
    loose = set(m.strip() for m in re.findall(r"[A-Za-z0-9_ .-]*\.png", doc))
    return names, loose


def qrc_entries():
    root = ET.parse(QRC).getroot()
    out = {}
    for q in root.iter("qresource"):
        prefix = q.get("prefix", "/")
        for f in q.iter("file"):
            alias = f.get("alias") or f.text
            res = ":" + prefix.rstrip("/") + "/" + alias
            out[res] = os.path.join(os.path.dirname(QRC), f.text)
    return out


def state_pairs(names):
    rest, active = {}, {}
    plain = {}
    for n in names:
        stem = n[:-4]
        m = REST.match(stem)
        if m and m.group(1):
            rest.setdefault(m.group(1).strip(" _-"), []).append(n)
            continue
        m = ACTIVE.match(stem)
        if m and m.group(1):
            active.setdefault(m.group(1).strip(" _-"), []).append(n)
            continue
        plain[stem.strip(" _-")] = n
    pairs = []
    for stem, ns in rest.items():
        others = active.get(stem, []) + ([plain[stem]] if stem in plain else [])
        for a in ns:
            for b in others:
                pairs.append((a, b))
    return pairs


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    sheet = None
    if "--sheet" in argv:
        sheet = argv[argv.index("--sheet") + 1]
    errors = []
    wanted, loose = names_in_document(argv[1])
    entries = qrc_entries()
    have = {k[len(":/Orvex/res/"):]: v for k, v in entries.items() if k.startswith(":/Orvex/res/")}
    for k in entries:
        if not k.startswith(":/Orvex/res/"):
            errors.append("resource outside :/Orvex/res/: %s" % k)
    for n in sorted(loose - wanted):
        if n not in have and not any(n.endswith(w) for w in wanted):
            errors.append("name found outside quotes and not provided: %r" % n)

    images = {}
    for n, path in sorted(have.items()):
        try:
            with Image.open(path) as im:
                im.load()
                images[n] = im.convert("RGBA")
        except Exception as e:  # noqa: BLE001 - any failure to load is a finding
            errors.append("%s does not load: %s" % (n, e))
            continue
        im = images[n]
        if im.getchannel("A").getextrema()[1] == 0:
            errors.append("%s is fully transparent" % n)
        if n in SIZES and im.size != SIZES[n]:
            errors.append("%s is %dx%d, its widget is %dx%d" % ((n,) + im.size + SIZES[n]))
    if "logo.png" in images and images["logo.png"].size[0] != LOGO_WIDTH:
        errors.append("logo.png is not %d px wide" % LOGO_WIDTH)
    for n in sorted(wanted):
        if n not in have:
            errors.append("missing from orvex.qrc: %r" % n)

    pairs = state_pairs(list(images)) + [p for p in NAMED_PAIRS if p[0] in images and p[1] in images]
    seen = set()
    for a, b in pairs:
        if (a, b) in seen:
            continue
        seen.add((a, b))
        ia, ib = images[a], images[b]
        if ia.size == ib.size and ia.tobytes() == ib.tobytes():
            errors.append("%s and %s are identical" % (a, b))
    print("check_artwork: %d names wanted, %d in orvex.qrc, %d loaded, %d state pairs compared"
          % (len(wanted), len(have), len(images), len(seen)))
    for e in errors:
        print("  FAIL", e)
    if sheet:
        write_sheet(images, sheet)
        print("contact sheet written to", sheet)
    print("check_artwork: %s" % ("OK" if not errors else "%d problem(s)" % len(errors)))
    return 0 if not errors else 1


# ---------------------------------------------------------------- contact sheet
_fonts = {}


def _font(size, bold=False):
    """The program's fallback for its Chinese texts, for the previews only."""
    from PIL import ImageFont
    import subprocess
    key = (size, bold)
    if key not in _fonts:
        out = subprocess.run(["fc-match", "-f", "%{file}\n%{index}",
                              "Noto Sans CJK SC:style=" + ("Bold" if bold else "Regular")],
                             capture_output=True, text=True).stdout.split("\n")
        _fonts[key] = ImageFont.truetype(out[0], size, index=int(out[1] or 0))
    return _fonts[key]


def _say(im, xy, s, size=12, color=(255, 255, 255), bold=False, anchor="la"):
    ImageDraw.Draw(im).text(xy, s, font=_font(size, bold), fill=color + (255,), anchor=anchor)


def _checker(w, h, a=(58, 58, 60), b=(70, 70, 72), step=8):
    im = Image.new("RGBA", (w, h), a + (255,))
    d = ImageDraw.Draw(im)
    for y in range(0, h, step):
        for x in range(0, w, step):
            if (x // step + y // step) % 2:
                d.rectangle([x, y, x + step - 1, y + step - 1], fill=b + (255,))
    return im


def _preview_main(img):
    """The main window as the program composes it: background, title, entries, panel."""
    win = Image.new("RGBA", (760, 540), (50, 50, 50, 255))
    win.alpha_composite(img["frame_bk1.png"])
    win.alpha_composite(img["leftitems_bk.png"], (0, 172))
    win.alpha_composite(img["title_bk.png"], (0, 0))
    win.alpha_composite(img["logo.png"], (8, 0))
    x = 760 - 8
    for n, w, h in (("close.png", 12, 12), ("shrink.png", 32, 32), ("update.png", 12, 14), ("help.png", 12, 12)):
        x -= w
        win.alpha_composite(img[n], (x, (32 - h) // 2))
        x -= 10
    names = ["deviceInfo_selected.png", "configTest_normal.png", "collectAssistant_normal.png",
             "posnor.png", "yingxiangnor.png", "yingxiangqingkongnor.png"]
    for i, n in enumerate(names):
        win.alpha_composite(img[n], (0, 32 + 36 * i))
    px, py = 0, 172
    for n, (x, y) in (("smallCamera_yellow.png", (61, 80)), ("largeCamera_white.png", (58, 108)),
                      ("smallCamera_white.png", (20, 110)), ("smallCamera_white.png", (61, 142)),
                      ("smallCamera_yellow.png", (100, 110)), ("pictures.png", (20, 310)),
                      ("sats.png", (90, 310))):
        win.alpha_composite(img[n], (px + x, py + y))
    win.alpha_composite(img["wifi.png"], (0, 499))
    _say(win, (px + 10, py + 180), "1号、4号相机故障，请检查", 12)
    _say(win, (px + 40, py + 232), "GPS未定位", 12)
    _say(win, (px + 25, py + 271), "采集策略：", 12)
    _say(win, (px + 91, py + 271), "定时2.00s", 12)
    _say(win, (px + 50, py + 312), "1280", 12)
    _say(win, (px + 120, py + 312), "12", 12)
    _say(win, (380, 16), "Orvex", 12, anchor="mm")
    # the page area with the configuration page
    page = img["configtest_bk.png"].copy()
    page.alpha_composite(img["caijicelv.png"], (10, 40))
    tab = Image.new("RGBA", (581, 373 + 62), (0, 0, 0, 0))
    x = 0
    for n in ("fixeddiatance_click.png", "fixedtime_normal.png", "elge_normal.png", "IO_normal.png",
              "pwm_normal.png"):
        pos = {"fixeddiatance": 2, "fixedtime": 106, "elge": 208, "IO": 327, "pwm": 447}[n.split("_")[0]]
        tab.alpha_composite(img[n], (pos, 20))
    tab.alpha_composite(img["setup_normal.png"], (260, 62 + 270))
    page.alpha_composite(tab, (10, 84))
    _say(page, (37 + 25, 48 + 10), "采集策略", 12, (0, 185, 255), True, "mm")
    _say(page, (143 + 25, 48 + 10), "设备调试", 12, (120, 120, 120), True, "mm")
    _say(page, (10 + 40, 84 + 62 + 40), "间隔距离", 12, (0, 0, 0))
    win.alpha_composite(page, (154, 32))
    return win


def _preview_splash(img):
    win = Image.new("RGBA", (760, 540), (50, 50, 50, 255))
    win.alpha_composite(img["frame_bk1.png"])
    win.alpha_composite(img["leftitems_bk.png"], (0, 172))
    win.alpha_composite(img["title_bk.png"], (0, 0))
    win.alpha_composite(img["logo.png"], (8, 0))
    for i, n in enumerate(["deviceInfo_selected.png", "configTest_normal.png", "collectAssistant_normal.png",
                           "posnor.png", "yingxiangnor.png", "yingxiangqingkongnor.png"]):
        win.alpha_composite(img[n], (0, 32 + 36 * i))
    win.alpha_composite(img["net duan xuan.png"], (0, 499))
    _say(win, (256, 250), "ZezizoreVadurezed V1.3.3", 13)
    # the communication window and a warning box over it
    comm = img["bjs.png"].copy()
    comm.alpha_composite(img["net .png"], (0, 27))
    comm.alpha_composite(img["chuankoushezhi  normal.png"], (122, 27))
    _say(comm, (26, 13), "连接设置", 12, anchor="lm")
    comm.alpha_composite(img["close.png"], (243 - 20, 7))
    _say(comm, (50, 57 + 10), "网络状态：", 12)
    _say(comm, (140, 57 + 10), "已连接", 12, (0, 170, 0))
    comm.alpha_composite(img["btn_blue_hover.png"], (75, 57 + 50))
    _say(comm, (110, 57 + 56), "断开", 15)
    _say(comm, (60, 57 + 88), "Q7-0031", 14)
    win.alpha_composite(comm, (260, 60))
    box = img["bg_warningbox.png"].copy()
    box.alpha_composite(img["xuanzhuan1.png"], (24, 52))
    _say(box, (70, 52), "相机断开", 14)
    _say(box, (70, 76), "请检查相机供电和本地WIFI连接！", 12)
    box.alpha_composite(img["btn_B_nor.png"], (120, 140))
    _say(box, (160, 155), "确定", 13, anchor="mm")
    win.alpha_composite(box, (400, 300))
    return win


def _preview_debug(img):
    page = img["configtest_bk.png"].copy()
    page.alpha_composite(img["sehbeitiaoshi.png"], (10, 40))
    dbg = Image.new("RGBA", (584, 415), (0, 0, 0, 0))
    dbg.alpha_composite(img["icon111.png"], (6, 26))
    for i, y in enumerate((80, 120, 160, 200, 240)):
        dbg.alpha_composite(img["normal.png"], (230, y))
        dbg.alpha_composite(img["wenti.png" if i == 2 else "normal.png"], (405, y))
        dbg.alpha_composite(img["round_error.png" if i == 2 else "round_normal.png"], (500, y + 1))
    dbg.alpha_composite(img["photograph_normal.png"], (270, 330))
    for i, (y, cap) in enumerate(zip((80, 120, 160, 200, 240), ("一号相机(前)：触发次数", "二号相机(右)：触发次数",
                                     "三号相机(后)：触发次数", "四号相机(左)：触发次数", "五号相机(中)：触发次数"))):
        _say(dbg, (65, y + 2), cap, 12, (0, 0, 0))
        _say(dbg, (235 + 30, y + 12), "120", 12, (0, 0, 0), anchor="mm")
        _say(dbg, (330, y + 2), "拍照数量", 12, (0, 0, 0))
        _say(dbg, (410 + 30, y + 12), "119" if i == 2 else "120", 12, (0, 0, 0), anchor="mm")
    _say(dbg, (238 + 54, 380 + 10), "点击进行拍照测试", 12, (0, 0, 0), anchor="mm")
    page.alpha_composite(dbg, (10, 84))
    _say(page, (37 + 25, 48 + 10), "采集策略", 12, (120, 120, 120), True, "mm")
    _say(page, (143 + 25, 48 + 10), "设备调试", 12, (0, 185, 255), True, "mm")
    return page


def write_sheet(img, out):
    cols_w = 1400
    pad = 10
    label_h = 14
    x = y = pad
    row_h = 0
    placed = []
    for n in sorted(img, key=lambda k: (img[k].size[1] > 200, img[k].size[1], k)):
        w, h = img[n].size
        cw = max(w, 90)
        if x + cw + pad > cols_w:
            x = pad
            y += row_h + label_h + pad
            row_h = 0
        placed.append((n, x, y))
        x += cw + pad
        row_h = max(row_h, h)
    total_h = y + row_h + label_h + pad
    prev1 = _preview_main(img)
    prev2 = _preview_debug(img)
    prev3 = _preview_splash(img)
    sheet = Image.new("RGBA", (cols_w, total_h + 1120), (28, 28, 30, 255))
    sheet.alpha_composite(_checker(cols_w, total_h), (0, 0))
    d = ImageDraw.Draw(sheet)
    for n, x, y in placed:
        sheet.alpha_composite(img[n], (x, y))
        d.text((x, y + img[n].size[1] + 1), n, fill=(255, 255, 160, 255))
    sheet.alpha_composite(prev1, (pad, total_h + 10))
    sheet.alpha_composite(prev2, (pad + 780, total_h + 10))
    sheet.alpha_composite(prev3, (pad, total_h + 570))
    sheet.convert("RGB").save(out)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
