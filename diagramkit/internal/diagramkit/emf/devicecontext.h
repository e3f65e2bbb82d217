#pragma once
// The object behind every metafile handle: a record list plus the drawing state of a GDI
// device context.

#include <cstdio>
#include <map>
#include <vector>

#include "diagramkit/emf/objects.h"
#include "diagramkit/emf/records.h"

namespace EMF {

// The transform a x b: applying it applies a, then b.
XFORM multiplyXform(const XFORM& a, const XFORM& b);

// Drawing state of the SVG writer. It belongs to one document and is reset at its header.
struct SVGSTATE {
  XFORM staticForm{1, 0, 0, 1, 0, 0};
  EXTLOGPEN staticPen;
  LOGBRUSH staticBush{0, 0xFFFFFF, 0};
  bool staticBushIsUsed = false;
  bool staticPenIsUsed = true;
  bool isInPath = false;

  // Back to the start-of-document state.
  void initStaticForm();
  // staticForm := x * staticForm.
  void myMultiply(const XFORM& x);
};

class METAFILEDEVICECONTEXT : public OBJECT {
 public:
  // Makes the context on `fp` (may be null), with an optional frame in 0.01 mm and an optional
  // description, and adds it to the handle table.
  METAFILEDEVICECONTEXT(FILE* fp, const RECTL* size, const WCHAR* description);
  ~METAFILEDEVICECONTEXT() override;
  int getType() const override { return OBJ_DC; }

  // Answers false (and drops the record) when the metafile has been deleted.
  bool appendRecord(METARECORD* record);
  bool appendHandle(METARECORD* record) { return appendRecord(record); }
  // Takes the lowest free handle number from 1 up; 0 when the metafile has been deleted.
  unsigned int nextHandle();
  void freeHandle(unsigned int number);
  // Widens the bounds (and the frame, when it follows drawing) by a logical point.
  void mergePoint(LONG x, LONG y);
  // Deletes every record and the header.
  void deleteMetafile();

  FILE* fp;
  DATASTREAM ds;
  bool ownsFile = false;
  ENHMETAHEADER* header = nullptr;
  std::vector<METARECORD*> records;

  SIZEL resolution{96, 96};
  SIZEL viewport_ext{1, 1};
  POINTL viewport_org;
  SIZEL window_ext{1, 1};
  POINTL window_org;
  bool update_frame = true;
  POINTL min_device_point;
  POINTL max_device_point;
  POINTL point;
  PEN* pen = nullptr;
  BRUSH* brush = nullptr;
  FONT* font = nullptr;
  PALETTE* palette = nullptr;
  UINT text_alignment = 24;
  COLORREF text_color = 0;
  COLORREF bk_color = 0xFFFFFF;
  INT bk_mode = 2;
  INT polyfill_mode = 1;
  INT map_mode = 1;
  FLOAT miter_limit = 10.0f;
  std::vector<bool> handles;
  std::map<unsigned int, unsigned int> emf_handles;  // playback: number in this file -> live handle
  SVGSTATE svg;

 private:
  void updateFrameFromBounds();
};

// The context named by `handle`, or null.
METAFILEDEVICECONTEXT* findContext(unsigned int handle);

}  // namespace EMF
