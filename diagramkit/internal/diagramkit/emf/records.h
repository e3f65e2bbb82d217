#pragma once
// The record classes: one per EMF record type the library reads, writes, plays back and
// renders as SVG.

#include <cstdio>
#include <string>
#include <vector>

#include "diagramkit/emf/datastream.h"
#include "diagramkit/emf/emftypes.h"

namespace EMF {

class METAFILEDEVICECONTEXT;

class METARECORD {
 public:
  METARECORD() = default;
  METARECORD(const METARECORD&) = delete;
  METARECORD& operator=(const METARECORD&) = delete;

  // Replays the record onto the context `dc` through the GDI-named calls.
  virtual void execute(METAFILEDEVICECONTEXT* source, unsigned int dc) const;
  // Writes the record's SVG text.
  virtual void output(METAFILEDEVICECONTEXT* source, FILE* out) const;
  // Writes the record in file layout.
  virtual bool serialize(DATASTREAM ds) = 0;
  virtual int size() const = 0;
  virtual ~METARECORD() = default;
  // Prints a text dump of the record to standard output.
  virtual void edit() const = 0;
};

#define EMF_RECORD_OPS                                                        \
  void execute(METAFILEDEVICECONTEXT* source, unsigned int dc) const override; \
  bool serialize(DATASTREAM ds) override;                                     \
  int size() const override { return static_cast<int>(nSize); }              \
  void edit() const override;

#define EMF_RECORD_OUTPUT void output(METAFILEDEVICECONTEXT* source, FILE* out) const override;

class ENHMETAHEADER : public METARECORD {
 public:
  explicit ENHMETAHEADER(const WCHAR* description = nullptr);
  // Reads the header from the current position; answers false when the stream has no file.
  bool unserialize(DATASTREAM ds);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT

  DWORD iType = EMR_HEADER;
  DWORD nSize = 108;
  RECTL rclBounds;
  RECTL rclFrame;
  DWORD dSignature = 0x464D4520;
  DWORD nVersion = 0x10000;
  DWORD nBytes = 108;
  DWORD nRecords = 1;
  WORD nHandles = 0;
  WORD sReserved = 0;
  DWORD nDescription = 0;
  DWORD offDescription = 0;
  DWORD nPalEntries = 0;
  SIZEL szlDevice{1024, 768};
  SIZEL szlMillimeters{320, 240};
  DWORD cbPixelFormat = 0;
  DWORD offPixelFormat = 0;
  DWORD bOpenGL = 0;
  SIZEL szlMicrometers{320000, 240000};
  std::vector<WCHAR> description;  // the units that follow the fixed fields, padding included
};

// Records holding a list of 32-bit points.
class POLY32RECORD : public METARECORD {
 public:
  explicit POLY32RECORD(DATASTREAM& ds);
  POLY32RECORD(DWORD type, const POINTL* points, DWORD count);
  bool serialize(DATASTREAM ds) override;
  int size() const override { return static_cast<int>(nSize); }

  DWORD iType = 0;
  DWORD nSize = 28;
  RECTL rclBounds;
  DWORD cptl = 0;
  std::vector<POINTL> aptl;

 protected:
  void editPoints(const char* name) const;
};

// Records holding a list of 16-bit points.
class POLY16RECORD : public METARECORD {
 public:
  explicit POLY16RECORD(DATASTREAM& ds);
  POLY16RECORD(DWORD type, const POINT16* points, DWORD count);
  bool serialize(DATASTREAM ds) override;
  int size() const override { return static_cast<int>(nSize); }

  DWORD iType = 0;
  DWORD nSize = 28;
  RECTL rclBounds;
  DWORD cpts = 0;
  std::vector<POINT16> apts;

 protected:
  void editPoints(const char* name) const;
};

#define EMF_POLY_RECORD(NAME, BASE)                                            \
  class NAME : public BASE {                                                   \
   public:                                                                     \
    using BASE::BASE;                                                          \
    void execute(METAFILEDEVICECONTEXT* source, unsigned int dc) const override; \
    void edit() const override;

EMF_POLY_RECORD(EMRPOLYBEZIER, POLY32RECORD) };
EMF_POLY_RECORD(EMRPOLYGON, POLY32RECORD) };
EMF_POLY_RECORD(EMRPOLYLINE, POLY32RECORD) };
EMF_POLY_RECORD(EMRPOLYBEZIERTO, POLY32RECORD) };
EMF_POLY_RECORD(EMRPOLYLINETO, POLY32RECORD) };
EMF_POLY_RECORD(EMRPOLYBEZIER16, POLY16RECORD) EMF_RECORD_OUTPUT };
EMF_POLY_RECORD(EMRPOLYGON16, POLY16RECORD) EMF_RECORD_OUTPUT };
EMF_POLY_RECORD(EMRPOLYLINE16, POLY16RECORD) EMF_RECORD_OUTPUT };
EMF_POLY_RECORD(EMRPOLYBEZIERTO16, POLY16RECORD) EMF_RECORD_OUTPUT };
EMF_POLY_RECORD(EMRPOLYLINETO16, POLY16RECORD) EMF_RECORD_OUTPUT };

class EMRPOLYPOLYGON : public METARECORD {
 public:
  explicit EMRPOLYPOLYGON(DATASTREAM& ds);
  EMRPOLYPOLYGON(const POINTL* points, const DWORD* counts, DWORD polygons);
  EMF_RECORD_OPS
  DWORD iType = EMR_POLYPOLYGON;
  DWORD nSize = 32;
  RECTL rclBounds;
  DWORD nPolys = 0;
  DWORD cptl = 0;
  std::vector<DWORD> aPolyCounts;
  std::vector<POINTL> aptl;
};

class EMRPOLYPOLYGON16 : public METARECORD {
 public:
  explicit EMRPOLYPOLYGON16(DATASTREAM& ds);
  EMRPOLYPOLYGON16(const POINT16* points, const DWORD* counts, DWORD polygons);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT
  DWORD iType = EMR_POLYPOLYGON16;
  DWORD nSize = 32;
  RECTL rclBounds;
  DWORD nPolys = 0;
  DWORD cpts = 0;
  std::vector<DWORD> aPolyCounts;
  std::vector<POINT16> apts;
};

// Records of one size, one origin or one point.
#define EMF_SIZE_RECORD(NAME, TYPE)          \
  class NAME : public METARECORD {           \
   public:                                   \
    explicit NAME(DATASTREAM& ds);           \
    NAME(LONG cx, LONG cy);                  \
    EMF_RECORD_OPS EMF_RECORD_OUTPUT                           \
    DWORD iType = TYPE;                      \
    DWORD nSize = 16;                        \
    SIZEL szlExtent;                         \
  };
#define EMF_POINT_RECORD(NAME, TYPE, FIELD) \
  class NAME : public METARECORD {          \
   public:                                  \
    explicit NAME(DATASTREAM& ds);          \
    NAME(LONG x, LONG y);                   \
    EMF_RECORD_OPS                          \
    DWORD iType = TYPE;                     \
    DWORD nSize = 16;                       \
    POINTL FIELD;

EMF_SIZE_RECORD(EMRSETWINDOWEXTEX, EMR_SETWINDOWEXTEX)
EMF_SIZE_RECORD(EMRSETVIEWPORTEXTEX, EMR_SETVIEWPORTEXTEX)
EMF_POINT_RECORD(EMRSETWINDOWORGEX, EMR_SETWINDOWORGEX, ptlOrigin) EMF_RECORD_OUTPUT };
EMF_POINT_RECORD(EMRSETVIEWPORTORGEX, EMR_SETVIEWPORTORGEX, ptlOrigin) EMF_RECORD_OUTPUT };
EMF_POINT_RECORD(EMRMOVETOEX, EMR_MOVETOEX, ptl) EMF_RECORD_OUTPUT };
EMF_POINT_RECORD(EMRLINETO, EMR_LINETO, ptl) EMF_RECORD_OUTPUT };

class EMREOF : public METARECORD {
 public:
  explicit EMREOF(DATASTREAM& ds);
  EMREOF();
  EMF_RECORD_OPS
  DWORD iType = EMR_EOF;
  DWORD nSize = 20;
  DWORD nPalEntries = 0;
  DWORD offPalEntries = 0;
  DWORD nSizeLast = 20;
};

class EMRSETPIXELV : public METARECORD {
 public:
  explicit EMRSETPIXELV(DATASTREAM& ds);
  EMRSETPIXELV(LONG x, LONG y, COLORREF color);
  EMF_RECORD_OPS
  DWORD iType = EMR_SETPIXELV;
  DWORD nSize = 20;
  POINTL ptlPixel;
  COLORREF crColor = 0;
};

// Records of one 32-bit value.
#define EMF_VALUE_RECORD(NAME, TYPE, VTYPE, FIELD) \
  class NAME : public METARECORD {                 \
   public:                                         \
    explicit NAME(DATASTREAM& ds);                 \
    explicit NAME(VTYPE value);                    \
    EMF_RECORD_OPS                                 \
    DWORD iType = TYPE;                            \
    DWORD nSize = 12;                              \
    VTYPE FIELD = 0;

EMF_VALUE_RECORD(EMRSETMAPMODE, EMR_SETMAPMODE, DWORD, iMode) EMF_RECORD_OUTPUT };
EMF_VALUE_RECORD(EMRSETBKMODE, EMR_SETBKMODE, DWORD, iMode) };
EMF_VALUE_RECORD(EMRSETPOLYFILLMODE, EMR_SETPOLYFILLMODE, DWORD, iMode) EMF_RECORD_OUTPUT };
EMF_VALUE_RECORD(EMRSETTEXTALIGN, EMR_SETTEXTALIGN, DWORD, iMode) };
EMF_VALUE_RECORD(EMRSETTEXTCOLOR, EMR_SETTEXTCOLOR, COLORREF, crColor) };
EMF_VALUE_RECORD(EMRSETBKCOLOR, EMR_SETBKCOLOR, COLORREF, crColor) };
EMF_VALUE_RECORD(EMRRESTOREDC, EMR_RESTOREDC, LONG, iRelative) EMF_RECORD_OUTPUT };
EMF_VALUE_RECORD(EMRSELECTOBJECT, EMR_SELECTOBJECT, DWORD, ihObject) EMF_RECORD_OUTPUT };
EMF_VALUE_RECORD(EMRDELETEOBJECT, EMR_DELETEOBJECT, DWORD, ihObject) EMF_RECORD_OUTPUT };

// Records with no fields.
#define EMF_EMPTY_RECORD(NAME, TYPE) \
  class NAME : public METARECORD {  \
   public:                          \
    explicit NAME(DATASTREAM& ds);  \
    NAME() = default;               \
    EMF_RECORD_OPS                  \
    DWORD iType = TYPE;             \
    DWORD nSize = 8;

EMF_EMPTY_RECORD(EMRSETMETARGN, EMR_SETMETARGN) };
EMF_EMPTY_RECORD(EMRSAVEDC, EMR_SAVEDC) EMF_RECORD_OUTPUT };
EMF_EMPTY_RECORD(EMRBEGINPATH, EMR_BEGINPATH) EMF_RECORD_OUTPUT };
EMF_EMPTY_RECORD(EMRENDPATH, EMR_ENDPATH) EMF_RECORD_OUTPUT };
EMF_EMPTY_RECORD(EMRCLOSEFIGURE, EMR_CLOSEFIGURE) EMF_RECORD_OUTPUT };

#define EMF_SCALE_RECORD(NAME, TYPE)                         \
  class NAME : public METARECORD {                           \
   public:                                                   \
    explicit NAME(DATASTREAM& ds);                           \
    NAME(LONG xNum, LONG xDenom, LONG yNum, LONG yDenom);    \
    EMF_RECORD_OPS EMF_RECORD_OUTPUT                                           \
    DWORD iType = TYPE;                                      \
    DWORD nSize = 24;                                        \
    LONG xNum = 0, xDenom = 0, yNum = 0, yDenom = 0;         \
  };
EMF_SCALE_RECORD(EMRSCALEVIEWPORTEXTEX, EMR_SCALEVIEWPORTEXTEX)
EMF_SCALE_RECORD(EMRSCALEWINDOWEXTEX, EMR_SCALEWINDOWEXTEX)

class EMRSETWORLDTRANSFORM : public METARECORD {
 public:
  explicit EMRSETWORLDTRANSFORM(DATASTREAM& ds);
  explicit EMRSETWORLDTRANSFORM(const XFORM& xform);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT
  DWORD iType = EMR_SETWORLDTRANSFORM;
  DWORD nSize = 32;
  XFORM xform;
};

class EMRMODIFYWORLDTRANSFORM : public METARECORD {
 public:
  explicit EMRMODIFYWORLDTRANSFORM(DATASTREAM& ds);
  EMRMODIFYWORLDTRANSFORM(const XFORM& xform, DWORD mode);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT
  DWORD iType = EMR_MODIFYWORLDTRANSFORM;
  DWORD nSize = 36;
  XFORM xform;
  DWORD iMode = 0;
};

class EMRCREATEPEN : public METARECORD {
 public:
  explicit EMRCREATEPEN(DATASTREAM& ds);
  EMRCREATEPEN(DWORD handle, const LOGPEN& pen);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT
  DWORD iType = EMR_CREATEPEN;
  DWORD nSize = 28;
  DWORD ihPen = 0;
  LOGPEN lopn;
};

class EMRCREATEBRUSHINDIRECT : public METARECORD {
 public:
  explicit EMRCREATEBRUSHINDIRECT(DATASTREAM& ds);
  EMRCREATEBRUSHINDIRECT(DWORD handle, const LOGBRUSH& brush);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT
  DWORD iType = EMR_CREATEBRUSHINDIRECT;
  DWORD nSize = 24;
  DWORD ihBrush = 0;
  LOGBRUSH lb;
};

#define EMF_BOX_RECORD(NAME, TYPE)  \
  class NAME : public METARECORD {  \
   public:                          \
    explicit NAME(DATASTREAM& ds);  \
    explicit NAME(const RECTL& box); \
    EMF_RECORD_OPS                  \
    DWORD iType = TYPE;             \
    DWORD nSize = 24;               \
    RECTL rclBox;                   \
  };
EMF_BOX_RECORD(EMRELLIPSE, EMR_ELLIPSE)
EMF_BOX_RECORD(EMRRECTANGLE, EMR_RECTANGLE)

#define EMF_ARC_RECORD(NAME, TYPE)                                            \
  class NAME : public METARECORD {                                            \
   public:                                                                    \
    explicit NAME(DATASTREAM& ds);                                            \
    NAME(const RECTL& box, const POINTL& start, const POINTL& end);           \
    EMF_RECORD_OPS                                                            \
    DWORD iType = TYPE;                                                       \
    DWORD nSize = 40;                                                         \
    RECTL rclBox;                                                             \
    POINTL ptlStart;                                                          \
    POINTL ptlEnd;                                                            \
  };
EMF_ARC_RECORD(EMRARC, EMR_ARC)
EMF_ARC_RECORD(EMRARCTO, EMR_ARCTO)

// Written only: palettes are never read back.
class EMRCREATEPALETTE : public METARECORD {
 public:
  EMRCREATEPALETTE(DWORD handle, const LOGPALETTE& palette);
  EMF_RECORD_OPS
  DWORD iType = EMR_CREATEPALETTE;
  DWORD nSize = 20;
  DWORD ihPal = 0;
  LOGPALETTE lgpl;
};

class EMRSETMITERLIMIT : public METARECORD {
 public:
  explicit EMRSETMITERLIMIT(DATASTREAM& ds);
  explicit EMRSETMITERLIMIT(FLOAT limit);
  EMF_RECORD_OPS
  DWORD iType = EMR_SETMITERLIMIT;
  DWORD nSize = 12;
  FLOAT eMiterLimit = 0;
};

#define EMF_BOUNDS_RECORD(NAME, TYPE) \
  class NAME : public METARECORD {    \
   public:                            \
    explicit NAME(DATASTREAM& ds);    \
    explicit NAME(const RECTL& bounds); \
    EMF_RECORD_OPS EMF_RECORD_OUTPUT                    \
    DWORD iType = TYPE;               \
    DWORD nSize = 24;                 \
    RECTL rclBounds;                  \
  };
EMF_BOUNDS_RECORD(EMRFILLPATH, EMR_FILLPATH)
EMF_BOUNDS_RECORD(EMRSTROKEANDFILLPATH, EMR_STROKEANDFILLPATH)
EMF_BOUNDS_RECORD(EMRSTROKEPATH, EMR_STROKEPATH)

class EMREXTCREATEFONTINDIRECTW : public METARECORD {
 public:
  explicit EMREXTCREATEFONTINDIRECTW(DATASTREAM& ds);
  EMREXTCREATEFONTINDIRECTW(DWORD handle, const EXTLOGFONTW& font);
  EMF_RECORD_OPS
  DWORD iType = EMR_EXTCREATEFONTINDIRECTW;
  DWORD nSize = 332;
  DWORD ihFont = 0;
  EXTLOGFONTW elfw;
};

class EMREXTTEXTOUTA : public METARECORD {
 public:
  explicit EMREXTTEXTOUTA(DATASTREAM& ds);
  EMREXTTEXTOUTA(LONG x, LONG y, DWORD options, const RECTL* clip, const char* text, DWORD length,
                 const INT* dx);
  EMF_RECORD_OPS
  DWORD iType = EMR_EXTTEXTOUTA;
  DWORD nSize = 76;
  RECTL rclBounds;
  DWORD iGraphicsMode = 1;
  FLOAT exScale = 1;
  FLOAT eyScale = 1;
  EMRTEXT emrtext;
  std::vector<char> string_a;  // nChars rounded up to 4, zero padded; empty without text
  std::vector<LONG> dx;        // nChars advances, or empty
};

class EMREXTCREATEPEN : public METARECORD {
 public:
  explicit EMREXTCREATEPEN(DATASTREAM& ds);
  EMREXTCREATEPEN(DWORD handle, const EXTLOGPEN& pen);
  EMF_RECORD_OPS
  EMF_RECORD_OUTPUT
  DWORD iType = EMR_EXTCREATEPEN;
  DWORD nSize = 52;
  DWORD ihPen = 0;
  DWORD offBmi = 52;
  DWORD cbBmi = 0;
  DWORD offBits = 52;
  DWORD cbBits = 0;
  EXTLOGPEN elp;
};

// Symbolic names for the text dumps.
std::string edit_pen_style(DWORD style);
std::string edit_brush_style(DWORD style);
std::string edit_brush_hatch(DWORD hatch);

}  // namespace EMF
