#!/usr/bin/env python3
"""Writes a VDX floor plan of about SHAPES shapes per page to OUT (stdout without OUT).

usage: floorplan.py SHAPES [PAGES] [OUT]

The kind of drawing that grows the converter's time: an A3 sheet at 1:50 in millimetres with a
dashed hairline grid, filled walls, furniture as groups of filled parts, and dimension lines
(hairlines with arrow heads and their measure as text). Each page counts its shapes whole: a
group and each part inside it are one shape each.
"""
import math
import sys

INCH_MM = 25.4
SCALE = 50  # drawing units per page unit
PAGE_W, PAGE_H = 420 / INCH_MM, 297 / INCH_MM  # A3 landscape, in inches
# Line weights as the drawing stores them; the reader scales them by the page scale too, so a
# hairline comes out 0.018 pt wide with 0.036 pt dashes.
HAIRLINE = 0.0125
DASHED = 23  # "2, 2" times the line width


def num(v):
    return f"{v:.6g}"


def d(v):
    """A length on paper (inches) in drawing units (inches of the building)."""
    return num(v * SCALE)


class Page:
    def __init__(self):
        self.next_id = 1
        self.count = 0
        self.out = []

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def shape(self, pin, size, geometry, line=None, fill=None, text=None, children=None, loc=None):
        """One shape; `geometry` is the inside of its <Geom> (None: no geometry)."""
        self.count += 1
        sid = self.new_id()
        w, h = size
        lx, ly = loc if loc else (w / 2, h / 2)
        kind = "Group" if children is not None else "Shape"
        x = [f'<Shape ID="{sid}" Type="{kind}">',
             f"<XForm><PinX>{d(pin[0])}</PinX><PinY>{d(pin[1])}</PinY><Width>{d(w)}</Width>"
             f"<Height>{d(h)}</Height><LocPinX>{d(lx)}</LocPinX><LocPinY>{d(ly)}</LocPinY>"
             "<Angle>0</Angle></XForm>"]
        if line:
            x.append("<Line>" + "".join(f"<{k}>{v}</{k}>" for k, v in line.items()) + "</Line>")
        if fill:
            x.append(f"<Fill><FillForegnd>{fill}</FillForegnd><FillPattern>1</FillPattern></Fill>")
        if text is not None:
            x.append('<Char IX="0"><Size>0.0833</Size><Color>#202020</Color></Char>')
        if geometry is not None:
            no_fill = 0 if fill else 1
            x.append(f'<Geom IX="0"><NoFill>{no_fill}</NoFill>{geometry}</Geom>')
        if children is not None:
            x.append("<Shapes>" + "".join(children) + "</Shapes>")
        if text is not None:
            x.append(f"<Text>{text}</Text>")
        x.append("</Shape>")
        return "".join(x)


def rect_geom(w, h):
    pts = [(0, 0), (w, 0), (w, h), (0, h), (0, 0)]
    rows = ['<MoveTo IX="1"><X>0</X><Y>0</Y></MoveTo>']
    for i, (x, y) in enumerate(pts[1:], 2):
        rows.append(f'<LineTo IX="{i}"><X>{d(x)}</X><Y>{d(y)}</Y></LineTo>')
    return "".join(rows)


def line_geom(w, h):
    return (f'<MoveTo IX="1"><X>0</X><Y>0</Y></MoveTo>'
            f'<LineTo IX="2"><X>{d(w)}</X><Y>{d(h)}</Y></LineTo>')


def ellipse_geom(w, h):
    cx, cy = w / 2, h / 2
    return (f'<Ellipse IX="1"><X>{d(cx)}</X><Y>{d(cy)}</Y><A>{d(w)}</A><B>{d(cy)}</B>'
            f'<C>{d(cx)}</C><D>{d(h)}</D></Ellipse>')


FILLS = ["#f2e6d9", "#d9e6f2", "#e6f2d9", "#f2d9e6", "#ececec"]


def furniture(page, x, y, k):
    """A table of four parts (top and legs as filled rectangles, a round tray): five shapes."""
    w, h = 0.32, 0.2
    parts = [page.shape((w / 2, h / 2), (w, h), rect_geom(w, h), line={"LineWeight": "0.1"},
                        fill=FILLS[k % len(FILLS)])]
    for dx, dy in ((0.02, 0.02), (w - 0.02, 0.02), (w - 0.02, h - 0.02)):
        parts.append(page.shape((dx, dy), (0.025, 0.025), rect_geom(0.025, 0.025),
                                line={"LineWeight": "0.08"}, fill="#8b5a2b"))
    tray = page.shape((w * 0.3, h * 0.6), (0.07, 0.07), ellipse_geom(0.07, 0.07),
                      line={"LineWeight": "0.08"}, fill="#c0c0ff")
    return page.shape((x, y), (w, h), None, children=parts[:3] + [tray] + parts[3:], loc=(0, 0))


def dimension(page, x, y, length, horizontal):
    """A dimension line: hairline, arrow heads at both ends, its measure in millimetres."""
    measure = f"{length * INCH_MM * SCALE:.0f} mm"
    size = (length, 0) if horizontal else (0, length)
    return page.shape((x + size[0] / 2, y + size[1] / 2), (max(size[0], 0.01), max(size[1], 0.01)),
                      line_geom(*size), loc=(size[0] / 2, size[1] / 2),
                      line={"LineWeight": num(HAIRLINE), "BeginArrow": "4", "EndArrow": "4", "LineColor": "#303030"},
                      text=measure)


def grid_line(page, x, y, length, horizontal):
    size = (length, 0) if horizontal else (0, length)
    return page.shape((x + size[0] / 2, y + size[1] / 2), (max(size[0], 0.01), max(size[1], 0.01)),
                      line_geom(*size), loc=(size[0] / 2, size[1] / 2),
                      line={"LineWeight": num(HAIRLINE), "LinePattern": str(DASHED), "LineColor": "#a0a0a0"})


def wall(page, x, y, w, h):
    return page.shape((x + w / 2, y + h / 2), (w, h), rect_geom(w, h), line={"LineWeight": "0.5"}, fill="#404040")


def page_shapes(target):
    """The shapes of one page: a grid, then rooms of walls, furniture and dimensions until the
    page holds `target` shapes."""
    page = Page()
    out = []
    # The grid: one line each 250 mm of the building; a tenth of the shapes at most.
    step = 250 / SCALE / INCH_MM
    lines = max(2, min(target // 10, 60))
    for i in range(lines // 2):
        out.append(grid_line(page, 0.3, 0.3 + i * step, PAGE_W - 0.6, True))
        out.append(grid_line(page, 0.3 + i * step * 1.4, 0.3, PAGE_H - 0.6, False))
    # Rooms on a square grid, as many as it takes: each with walls, tables and dimensions.
    per_room = 4 + 4 * 5 + 2
    rooms = max(1, math.ceil((target - page.count) / per_room))
    cols = math.ceil(math.sqrt(rooms * PAGE_W / PAGE_H))
    rows = math.ceil(rooms / cols)
    rw, rh = (PAGE_W - 0.8) / cols, (PAGE_H - 0.8) / rows
    k = 0
    for r in range(rows):
        for c in range(cols):
            if page.count >= target:
                break
            x0, y0 = 0.4 + c * rw, 0.4 + r * rh
            t = min(rw, rh) * 0.03
            for w in ((x0, y0, rw, t), (x0, y0 + rh - t, rw, t), (x0, y0, t, rh), (x0 + rw - t, y0, t, rh)):
                if page.count < target:
                    out.append(wall(page, *w))
            for i in range(4):
                if page.count + 5 > target:
                    break
                fx = x0 + rw * (0.15 + 0.4 * (i % 2))
                fy = y0 + rh * (0.15 + 0.4 * (i // 2))
                out.append(furniture(page, fx, fy, k))
                k += 1
            for horizontal in (True, False):
                if page.count < target:
                    out.append(dimension(page, x0 + rw * 0.05, y0 + rh * 0.05,
                                         (rw if horizontal else rh) * 0.9, horizontal))
    return out


def drawing(shapes, pages):
    x = ['<?xml version="1.0" encoding="utf-8"?>\n'
         '<VisioDocument xmlns="http://schemas.microsoft.com/visio/2003/core">\n<Pages>\n']
    for p in range(pages):
        x.append(f'<Page ID="{p}" NameU="Floor-{p + 1}" Name="Floor-{p + 1}">'
                 f"<PageSheet><PageProps><PageWidth>{d(PAGE_W)}</PageWidth><PageHeight>{d(PAGE_H)}</PageHeight>"
                 f"<PageScale Unit=\"MM\">{num(1 / INCH_MM)}</PageScale>"
                 f"<DrawingScale Unit=\"MM\">{num(SCALE / INCH_MM)}</DrawingScale></PageProps></PageSheet>\n<Shapes>")
        x.extend(page_shapes(shapes))
        x.append("</Shapes></Page>\n")
    x.append("</Pages>\n</VisioDocument>\n")
    return "".join(x)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    shapes = int(sys.argv[1])
    pages = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    text = drawing(shapes, pages)
    if len(sys.argv) > 3:
        with open(sys.argv[3], "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
