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
// Points go through the world transform (staticForm), then the page-to-device mapping of the
// map mode, window and viewport, and are written relative to the picture's origin (the
// header's bounds, or its frame when the bounds are empty).
struct SVGSTATE {
  // What SaveDC keeps and RestoreDC gives back.
  struct Saved {
    XFORM staticForm{1, 0, 0, 1, 0, 0};
    EXTLOGPEN staticPen{0, 0, 0, 0, 0, 0};  // the selected pen: BLACK_PEN
    LOGBRUSH staticBush{0, 0xFFFFFF, 0};    // the selected brush: WHITE_BRUSH
    INT polyfill_mode = 1;                   // ALTERNATE
    INT map_mode = 1;                        // MM_TEXT
    POINTL window_org;
    SIZEL window_ext{1, 1};
    POINTL viewport_org;
    SIZEL viewport_ext{1, 1};
  };
  // A brush or pen created by the metafile, by its number in the file.
  struct Created {
    bool isPen = false;
    LOGBRUSH brush;
    EXTLOGPEN pen;
  };

  XFORM& staticForm = current.staticForm;
  EXTLOGPEN& staticPen = current.staticPen;
  LOGBRUSH& staticBush = current.staticBush;
  Saved current;
  std::vector<Saved> saved;
  std::map<DWORD, Created> created;
  bool isInPath = false;
  bool pathAwaitingStyle = false;  // an ended bracket whose style the next record gives
  // From the header.
  double originX = 0, originY = 0;        // device units
  double pixelsPerMmX = 3.2, pixelsPerMmY = 3.2;

  SVGSTATE() = default;
  SVGSTATE(const SVGSTATE&) = delete;
  SVGSTATE& operator=(const SVGSTATE&) = delete;

  // Back to the start-of-document state.
  void initStaticForm();
  // staticForm := x * staticForm.
  void myMultiply(const XFORM& x);
  // A logical point in the picture's coordinates.
  void toPicture(float x, float y, double& px, double& py) const;
  // The page-to-device scale of the current mapping.
  void pageScale(double& sx, double& sy) const;
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
