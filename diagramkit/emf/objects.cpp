#include "diagramkit/emf/objects.h"

#include "diagramkit/emf/records.h"

namespace EMF {

GLOBALOBJECTS globalObjects;

std::recursive_mutex& libraryMutex() {
  static std::recursive_mutex m;
  return m;
}

METARECORD* PEN::newEMR(unsigned int dc, unsigned int emf_handle) {
  contexts[dc] = emf_handle;
  return new EMRCREATEPEN(emf_handle, lopn);
}

METARECORD* BRUSH::newEMR(unsigned int dc, unsigned int emf_handle) {
  contexts[dc] = emf_handle;
  return new EMRCREATEBRUSHINDIRECT(emf_handle, lb);
}

METARECORD* PALETTE::newEMR(unsigned int dc, unsigned int emf_handle) {
  contexts[dc] = emf_handle;
  return new EMRCREATEPALETTE(emf_handle, lgpl);
}

METARECORD* FONT::newEMR(unsigned int dc, unsigned int emf_handle) {
  contexts[dc] = emf_handle;
  return new EMREXTCREATEFONTINDIRECTW(emf_handle, elfw);
}

METARECORD* EXTPEN::newEMR(unsigned int dc, unsigned int emf_handle) {
  contexts[dc] = emf_handle;
  return new EMREXTCREATEPEN(emf_handle, elp);
}

EXTLOGFONTW extlogfontFrom(const LOGFONTW& lf) {
  EXTLOGFONTW f;
  f.elfLogFont = lf;
  f.elfPanose = PANOSE{1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  return f;
}

namespace {
BRUSH* stockBrush(UINT style, COLORREF color) { return new BRUSH(LOGBRUSH{style, color, 0}); }
PEN* stockPen(UINT style, COLORREF color) { return new PEN(LOGPEN{style, POINTL{0, 0}, color}); }
FONT* stockFont() { return new FONT(extlogfontFrom(LOGFONTW{})); }
}  // namespace

GLOBALOBJECTS::GLOBALOBJECTS() {
  add(stockBrush(BS_SOLID, 0xFFFFFF));
  add(stockBrush(BS_SOLID, 0xB0B0B0));
  add(stockBrush(BS_SOLID, 0x808080));
  add(stockBrush(BS_SOLID, 0x404040));
  add(stockBrush(BS_SOLID, 0));
  add(stockBrush(BS_NULL, 0));
  add(stockPen(PS_SOLID, 0xFFFFFF));
  add(stockPen(PS_SOLID, 0));
  add(stockPen(PS_NULL, 0));
  add(stockPen(PS_NULL, 0));  // index 9 has no stock object of its own
  for (int i = 0; i < 5; ++i) add(stockFont());
  add(new PALETTE(LOGPALETTE{}));
  add(stockFont());
  add(stockFont());

#define EMF_REGISTER(TYPE, name) new_records[TYPE] = &GLOBALOBJECTS::new_##name;
  EMF_REGISTER(EMR_POLYBEZIER, polybezier)
  EMF_REGISTER(EMR_POLYGON, polygon)
  EMF_REGISTER(EMR_POLYLINE, polyline)
  EMF_REGISTER(EMR_POLYBEZIERTO, polybezierto)
  EMF_REGISTER(EMR_POLYLINETO, polylineto)
  EMF_REGISTER(EMR_POLYPOLYGON, polypolygon)
  EMF_REGISTER(EMR_SETWINDOWEXTEX, setwindowextex)
  EMF_REGISTER(EMR_SETWINDOWORGEX, setwindoworgex)
  EMF_REGISTER(EMR_SETVIEWPORTEXTEX, setviewportextex)
  EMF_REGISTER(EMR_SETVIEWPORTORGEX, setviewportorgex)
  EMF_REGISTER(EMR_EOF, eof)
  EMF_REGISTER(EMR_SETPIXELV, setpixelv)
  EMF_REGISTER(EMR_SETMAPMODE, setmapmode)
  EMF_REGISTER(EMR_SETBKMODE, setbkmode)
  EMF_REGISTER(EMR_SETPOLYFILLMODE, setpolyfillmode)
  EMF_REGISTER(EMR_SETTEXTALIGN, settextalign)
  EMF_REGISTER(EMR_SETTEXTCOLOR, settextcolor)
  EMF_REGISTER(EMR_SETBKCOLOR, setbkcolor)
  EMF_REGISTER(EMR_MOVETOEX, movetoex)
  EMF_REGISTER(EMR_SETMETARGN, setmetargn)
  EMF_REGISTER(EMR_SCALEVIEWPORTEXTEX, scaleviewportextex)
  EMF_REGISTER(EMR_SCALEWINDOWEXTEX, scalewindowextex)
  EMF_REGISTER(EMR_SAVEDC, savedc)
  EMF_REGISTER(EMR_RESTOREDC, restoredc)
  EMF_REGISTER(EMR_SETWORLDTRANSFORM, setworldtransform)
  EMF_REGISTER(EMR_MODIFYWORLDTRANSFORM, modifyworldtransform)
  EMF_REGISTER(EMR_SELECTOBJECT, selectobject)
  EMF_REGISTER(EMR_CREATEPEN, createpen)
  EMF_REGISTER(EMR_CREATEBRUSHINDIRECT, createbrushindirect)
  EMF_REGISTER(EMR_DELETEOBJECT, deleteobject)
  EMF_REGISTER(EMR_ELLIPSE, ellipse)
  EMF_REGISTER(EMR_RECTANGLE, rectangle)
  EMF_REGISTER(EMR_ARC, arc)
  EMF_REGISTER(EMR_LINETO, lineto)
  EMF_REGISTER(EMR_ARCTO, arcto)
  EMF_REGISTER(EMR_SETMITERLIMIT, setmiterlimit)
  EMF_REGISTER(EMR_BEGINPATH, beginpath)
  EMF_REGISTER(EMR_ENDPATH, endpath)
  EMF_REGISTER(EMR_CLOSEFIGURE, closefigure)
  EMF_REGISTER(EMR_FILLPATH, fillpath)
  EMF_REGISTER(EMR_STROKEANDFILLPATH, strokeandfillpath)
  EMF_REGISTER(EMR_STROKEPATH, strokepath)
  EMF_REGISTER(EMR_EXTCREATEFONTINDIRECTW, extcreatefontindirectw)
  EMF_REGISTER(EMR_EXTTEXTOUTA, exttextouta)
  EMF_REGISTER(EMR_POLYBEZIER16, polybezier16)
  EMF_REGISTER(EMR_POLYGON16, polygon16)
  EMF_REGISTER(EMR_POLYLINE16, polyline16)
  EMF_REGISTER(EMR_POLYBEZIERTO16, polybezierto16)
  EMF_REGISTER(EMR_POLYLINETO16, polylineto16)
  EMF_REGISTER(EMR_POLYPOLYGON16, polypolygon16)
  EMF_REGISTER(EMR_EXTCREATEPEN, extcreatepen)
#undef EMF_REGISTER
}

GLOBALOBJECTS::~GLOBALOBJECTS() {
  for (OBJECT*& o : objects) {
    delete o;
    o = nullptr;
  }
  new_records.clear();
}

unsigned int GLOBALOBJECTS::add(OBJECT* object) {
  std::size_t index = 0;
  while (index < objects.size() && objects[index] != nullptr) ++index;
  if (index == objects.size())
    objects.push_back(object);
  else
    objects[index] = object;
  unsigned int handle = static_cast<unsigned int>(index);
  if (index <= static_cast<std::size_t>(STOCK_LAST)) handle |= ENHMETA_STOCK_OBJECT;
  object->handle = handle;
  return handle;
}

OBJECT* GLOBALOBJECTS::find(unsigned int handle) const {
  const std::size_t index = handle & ~ENHMETA_STOCK_OBJECT;
  return index < objects.size() ? objects[index] : nullptr;
}

void GLOBALOBJECTS::remove(const OBJECT* object) {
  for (OBJECT*& o : objects) {
    if (o == object) {
      delete o;
      o = nullptr;
      return;
    }
  }
}

RecordFactory GLOBALOBJECTS::newRecord(DWORD iType) const {
  auto it = new_records.find(iType);
  return it == new_records.end() ? nullptr : it->second;
}

#define EMF_FACTORY(name, CLASS) \
  METARECORD* GLOBALOBJECTS::new_##name(DATASTREAM& ds) { return new CLASS(ds); }
EMF_FACTORY(polybezier, EMRPOLYBEZIER)
EMF_FACTORY(polygon, EMRPOLYGON)
EMF_FACTORY(polyline, EMRPOLYLINE)
EMF_FACTORY(polybezierto, EMRPOLYBEZIERTO)
EMF_FACTORY(polylineto, EMRPOLYLINETO)
EMF_FACTORY(polypolygon, EMRPOLYPOLYGON)
EMF_FACTORY(setwindowextex, EMRSETWINDOWEXTEX)
EMF_FACTORY(setwindoworgex, EMRSETWINDOWORGEX)
EMF_FACTORY(setviewportextex, EMRSETVIEWPORTEXTEX)
EMF_FACTORY(setviewportorgex, EMRSETVIEWPORTORGEX)
EMF_FACTORY(eof, EMREOF)
EMF_FACTORY(setpixelv, EMRSETPIXELV)
EMF_FACTORY(setmapmode, EMRSETMAPMODE)
EMF_FACTORY(setbkmode, EMRSETBKMODE)
EMF_FACTORY(setpolyfillmode, EMRSETPOLYFILLMODE)
EMF_FACTORY(settextalign, EMRSETTEXTALIGN)
EMF_FACTORY(settextcolor, EMRSETTEXTCOLOR)
EMF_FACTORY(setbkcolor, EMRSETBKCOLOR)
EMF_FACTORY(movetoex, EMRMOVETOEX)
EMF_FACTORY(setmetargn, EMRSETMETARGN)
EMF_FACTORY(scaleviewportextex, EMRSCALEVIEWPORTEXTEX)
EMF_FACTORY(scalewindowextex, EMRSCALEWINDOWEXTEX)
EMF_FACTORY(savedc, EMRSAVEDC)
EMF_FACTORY(restoredc, EMRRESTOREDC)
EMF_FACTORY(setworldtransform, EMRSETWORLDTRANSFORM)
EMF_FACTORY(modifyworldtransform, EMRMODIFYWORLDTRANSFORM)
EMF_FACTORY(selectobject, EMRSELECTOBJECT)
EMF_FACTORY(createpen, EMRCREATEPEN)
EMF_FACTORY(createbrushindirect, EMRCREATEBRUSHINDIRECT)
EMF_FACTORY(deleteobject, EMRDELETEOBJECT)
EMF_FACTORY(ellipse, EMRELLIPSE)
EMF_FACTORY(rectangle, EMRRECTANGLE)
EMF_FACTORY(arc, EMRARC)
EMF_FACTORY(lineto, EMRLINETO)
EMF_FACTORY(arcto, EMRARCTO)
EMF_FACTORY(setmiterlimit, EMRSETMITERLIMIT)
EMF_FACTORY(beginpath, EMRBEGINPATH)
EMF_FACTORY(endpath, EMRENDPATH)
EMF_FACTORY(closefigure, EMRCLOSEFIGURE)
EMF_FACTORY(fillpath, EMRFILLPATH)
EMF_FACTORY(strokeandfillpath, EMRSTROKEANDFILLPATH)
EMF_FACTORY(strokepath, EMRSTROKEPATH)
EMF_FACTORY(extcreatefontindirectw, EMREXTCREATEFONTINDIRECTW)
EMF_FACTORY(exttextouta, EMREXTTEXTOUTA)
EMF_FACTORY(polybezier16, EMRPOLYBEZIER16)
EMF_FACTORY(polygon16, EMRPOLYGON16)
EMF_FACTORY(polyline16, EMRPOLYLINE16)
EMF_FACTORY(polybezierto16, EMRPOLYBEZIERTO16)
EMF_FACTORY(polylineto16, EMRPOLYLINETO16)
EMF_FACTORY(polypolygon16, EMRPOLYPOLYGON16)
EMF_FACTORY(extcreatepen, EMREXTCREATEPEN)
#undef EMF_FACTORY

}  // namespace EMF
