#pragma once
// Graphics objects and the process-wide handle table.

#include <map>
#include <mutex>
#include <vector>

#include "diagramkit/emf/datastream.h"
#include "diagramkit/emf/emftypes.h"

namespace EMF {

class METARECORD;

class OBJECT {
 public:
  OBJECT() = default;
  OBJECT(const OBJECT&) = delete;
  OBJECT& operator=(const OBJECT&) = delete;
  virtual ~OBJECT() = default;
  virtual int getType() const = 0;

  unsigned int handle = 0;
};

class GRAPHICSOBJECT : public OBJECT {
 public:
  // Records that the object has number `emf_handle` in context `dc` and answers a new creation
  // record for it.
  virtual METARECORD* newEMR(unsigned int dc, unsigned int emf_handle) = 0;

  // Device-context handle -> the object's handle number in that context's metafile.
  std::map<unsigned int, unsigned int> contexts;
};

class PEN : public GRAPHICSOBJECT {
 public:
  explicit PEN(const LOGPEN& lp) : lopn(lp) {}
  int getType() const override { return OBJ_PEN; }
  METARECORD* newEMR(unsigned int dc, unsigned int emf_handle) override;
  LOGPEN lopn;
};

class BRUSH : public GRAPHICSOBJECT {
 public:
  explicit BRUSH(const LOGBRUSH& lb) : lb(lb) {}
  int getType() const override { return OBJ_BRUSH; }
  METARECORD* newEMR(unsigned int dc, unsigned int emf_handle) override;
  LOGBRUSH lb;
};

class PALETTE : public GRAPHICSOBJECT {
 public:
  explicit PALETTE(const LOGPALETTE& lp) : lgpl(lp) {}
  int getType() const override { return OBJ_PAL; }
  METARECORD* newEMR(unsigned int dc, unsigned int emf_handle) override;
  LOGPALETTE lgpl;
};

class FONT : public GRAPHICSOBJECT {
 public:
  explicit FONT(const EXTLOGFONTW& f) : elfw(f) {}
  int getType() const override { return OBJ_FONT; }
  METARECORD* newEMR(unsigned int dc, unsigned int emf_handle) override;
  EXTLOGFONTW elfw;
};

class EXTPEN : public GRAPHICSOBJECT {
 public:
  explicit EXTPEN(const EXTLOGPEN& p) : elp(p) {}
  int getType() const override { return OBJ_EXTPEN; }
  METARECORD* newEMR(unsigned int dc, unsigned int emf_handle) override;
  EXTLOGPEN elp;
};

// A font with only the LOGFONTW given: the rest zero, every PANOSE byte 1.
EXTLOGFONTW extlogfontFrom(const LOGFONTW& lf);

using RecordFactory = METARECORD* (*)(DATASTREAM&);

class GLOBALOBJECTS {
 public:
  GLOBALOBJECTS();
  ~GLOBALOBJECTS();
  GLOBALOBJECTS(const GLOBALOBJECTS&) = delete;
  GLOBALOBJECTS& operator=(const GLOBALOBJECTS&) = delete;

  unsigned int add(OBJECT* object);
  OBJECT* find(unsigned int handle) const;
  void remove(const OBJECT* object);
  RecordFactory newRecord(DWORD iType) const;

  std::vector<OBJECT*> objects;
  std::map<DWORD, RecordFactory> new_records;

#define EMF_FACTORY(name) static METARECORD* new_##name(DATASTREAM& ds);
  EMF_FACTORY(polybezier) EMF_FACTORY(polygon) EMF_FACTORY(polyline) EMF_FACTORY(polybezierto)
  EMF_FACTORY(polylineto) EMF_FACTORY(polypolygon) EMF_FACTORY(setwindowextex)
  EMF_FACTORY(setwindoworgex) EMF_FACTORY(setviewportextex) EMF_FACTORY(setviewportorgex)
  EMF_FACTORY(eof) EMF_FACTORY(setpixelv) EMF_FACTORY(setmapmode) EMF_FACTORY(setbkmode)
  EMF_FACTORY(setpolyfillmode) EMF_FACTORY(settextalign) EMF_FACTORY(settextcolor)
  EMF_FACTORY(setbkcolor) EMF_FACTORY(movetoex) EMF_FACTORY(setmetargn)
  EMF_FACTORY(scaleviewportextex) EMF_FACTORY(scalewindowextex) EMF_FACTORY(savedc)
  EMF_FACTORY(restoredc) EMF_FACTORY(setworldtransform) EMF_FACTORY(modifyworldtransform)
  EMF_FACTORY(selectobject) EMF_FACTORY(createpen) EMF_FACTORY(createbrushindirect)
  EMF_FACTORY(deleteobject) EMF_FACTORY(ellipse) EMF_FACTORY(rectangle) EMF_FACTORY(arc)
  EMF_FACTORY(lineto) EMF_FACTORY(arcto) EMF_FACTORY(setmiterlimit) EMF_FACTORY(beginpath)
  EMF_FACTORY(endpath) EMF_FACTORY(closefigure) EMF_FACTORY(fillpath)
  EMF_FACTORY(strokeandfillpath) EMF_FACTORY(strokepath) EMF_FACTORY(extcreatefontindirectw)
  EMF_FACTORY(exttextouta) EMF_FACTORY(polybezier16) EMF_FACTORY(polygon16)
  EMF_FACTORY(polyline16) EMF_FACTORY(polybezierto16) EMF_FACTORY(polylineto16)
  EMF_FACTORY(polypolygon16) EMF_FACTORY(extcreatepen)
#undef EMF_FACTORY
};

extern GLOBALOBJECTS globalObjects;

// Serialises every entry point of the library: the handle table and the contexts are
// process-wide, so two conversions on two threads take turns.
std::recursive_mutex& libraryMutex();

}  // namespace EMF
