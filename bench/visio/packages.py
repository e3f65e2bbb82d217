#!/usr/bin/env python3
"""Writes the VSDX packages of bench/visio/renderer.sh.

  packages.py text N OUT      one page, one narrow shape (0.5 in wide) holding N characters
  packages.py images SIZE K OUT  one page, one image part of SIZE zero bytes drawn by K shapes
"""
import sys
import zipfile

NS = ('xmlns="http://schemas.microsoft.com/office/visio/2012/main" '
      'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"')
REL = "http://schemas.microsoft.com/visio/2010/relationships/"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def rels(items):
    body = "".join(f'<Relationship Id="rId{i}" Type="{t}" Target="{target}"/>'
                   for i, (t, target) in enumerate(items, 1))
    return (HEAD + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            + body + "</Relationships>")


def cell(n, v):
    return f'<Cell N="{n}" V="{v}"/>'


def shape(i, pin_x, width, body):
    return (f'<Shape ID="{i}" Type="Shape">' + cell("PinX", pin_x) + cell("PinY", 5) + cell("Width", width)
            + cell("Height", 1) + cell("LocPinX", width / 2) + cell("LocPinY", 0.5) + body + "</Shape>")


def write(path, shapes, page_rels=None, media=()):
    types = (HEAD + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="xml" ContentType="application/xml"/>'
             '<Default Extension="png" ContentType="image/png"/>'
             '<Override PartName="/visio/document.xml" ContentType="application/vnd.ms-visio.drawing.main+xml"/>'
             '<Override PartName="/visio/pages/pages.xml" ContentType="application/vnd.ms-visio.pages+xml"/>'
             '<Override PartName="/visio/pages/page1.xml" ContentType="application/vnd.ms-visio.page+xml"/>'
             "</Types>")
    pages = (HEAD + f"<Pages {NS}><Page ID=\"0\" NameU=\"Page-1\" Name=\"Page-1\"><PageSheet>"
             + cell("PageWidth", 8.5) + cell("PageHeight", 11) + '</PageSheet><Rel r:id="rId1"/></Page></Pages>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr("[Content_Types].xml", types)
        z.writestr("_rels/.rels", rels([(REL + "document", "visio/document.xml")]))
        z.writestr("visio/document.xml", HEAD + f"<VisioDocument {NS}/>")
        z.writestr("visio/_rels/document.xml.rels", rels([(REL + "pages", "pages/pages.xml")]))
        z.writestr("visio/pages/pages.xml", pages)
        z.writestr("visio/pages/_rels/pages.xml.rels", rels([(REL + "page", "page1.xml")]))
        z.writestr("visio/pages/page1.xml", HEAD + f"<PageContents {NS}><Shapes>{shapes}</Shapes></PageContents>")
        if page_rels:
            z.writestr("visio/pages/_rels/page1.xml.rels", page_rels)
        for name, size in media:
            z.writestr(name, bytes(size))


if sys.argv[1] == "text":
    n, out = int(sys.argv[2]), sys.argv[3]
    words = ("lorem ipsum dolor sit amet " * (n // 27 + 1))[:n]
    write(out, shape(1, 2, 0.5, f"<Text>{words}</Text>"))
elif sys.argv[1] == "images":
    size, k, out = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    image = cell("ImgOffsetX", 0) + cell("ImgOffsetY", 0) + cell("ImgWidth", 1) + cell("ImgHeight", 1)
    shapes = "".join(shape(i, 1 + 1.2 * i, 1, image + '<ForeignData ForeignType="Bitmap"><Rel r:id="rId1"/></ForeignData>')
                     for i in range(1, k + 1))
    write(out, shapes, rels([("http://schemas.openxmlformats.org/officeDocument/2006/relationships/image",
                              "../media/image1.png")]), [("visio/media/image1.png", size)])
else:
    sys.exit(__doc__)
