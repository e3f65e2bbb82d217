#include "diagramkit/emf/devicecontext.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace EMF {

namespace {

LONG clampLong(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<LONG>(std::clamp<double>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

template <typename T>
T* stock(int index) {
  return dynamic_cast<T*>(globalObjects.find(ENHMETA_STOCK_OBJECT | static_cast<unsigned int>(index)));
}

}  // namespace

void SVGSTATE::initStaticForm() {
  current = Saved{};
  saved.clear();
  created.clear();
  isInPath = false;
  pathAwaitingStyle = false;
  originX = originY = 0;
  pixelsPerMmX = pixelsPerMmY = 3.2;
}

void SVGSTATE::pageScale(double& sx, double& sy) const {
  // Logical units per millimetre of the fixed map modes; y grows upwards in them.
  double mmPerUnit = 0;
  switch (current.map_mode) {
    case 2: mmPerUnit = 0.1; break;        // MM_LOMETRIC
    case 3: mmPerUnit = 0.01; break;       // MM_HIMETRIC
    case 4: mmPerUnit = 0.254; break;      // MM_LOENGLISH
    case 5: mmPerUnit = 0.0254; break;     // MM_HIENGLISH
    case 6: mmPerUnit = 25.4 / 1440; break;  // MM_TWIPS
    default: break;
  }
  if (mmPerUnit > 0) {
    sx = mmPerUnit * pixelsPerMmX;
    sy = -mmPerUnit * pixelsPerMmY;
    return;
  }
  if (current.map_mode == 7 || current.map_mode == 8) {  // MM_ISOTROPIC, MM_ANISOTROPIC
    const double wx = current.window_ext.cx != 0 ? current.window_ext.cx : 1;
    const double wy = current.window_ext.cy != 0 ? current.window_ext.cy : 1;
    sx = current.viewport_ext.cx / wx;
    sy = current.viewport_ext.cy / wy;
    if (current.map_mode == 7) {
      const double m = std::min(std::fabs(sx), std::fabs(sy));
      sx = sx < 0 ? -m : m;
      sy = sy < 0 ? -m : m;
    }
    return;
  }
  sx = sy = 1;  // MM_TEXT
}

void SVGSTATE::toPicture(float x, float y, double& px, double& py) const {
  const XFORM& f = current.staticForm;
  const double wx = static_cast<double>(f.eM11) * x + static_cast<double>(f.eM21) * y + f.eDx;
  const double wy = static_cast<double>(f.eM12) * x + static_cast<double>(f.eM22) * y + f.eDy;
  double sx = 1;
  double sy = 1;
  pageScale(sx, sy);
  px = (wx - current.window_org.x) * sx + current.viewport_org.x - originX;
  py = (wy - current.window_org.y) * sy + current.viewport_org.y - originY;
}

XFORM multiplyXform(const XFORM& a, const XFORM& b) {
  XFORM m;
  m.eM11 = a.eM11 * b.eM11 + a.eM12 * b.eM21;
  m.eM12 = a.eM11 * b.eM12 + a.eM12 * b.eM22;
  m.eM21 = a.eM21 * b.eM11 + a.eM22 * b.eM21;
  m.eM22 = a.eM21 * b.eM12 + a.eM22 * b.eM22;
  m.eDx = a.eDx * b.eM11 + a.eDy * b.eM21 + b.eDx;
  m.eDy = a.eDx * b.eM12 + a.eDy * b.eM22 + b.eDy;
  return m;
}

void SVGSTATE::myMultiply(const XFORM& r) { staticForm = multiplyXform(r, staticForm); }

METAFILEDEVICECONTEXT::METAFILEDEVICECONTEXT(FILE* file, const RECTL* size, const WCHAR* description)
    : fp(file), ds(file) {
  handles.push_back(true);
  header = new ENHMETAHEADER(description);
  records.push_back(header);
  if (size) {
    update_frame = false;
    header->rclFrame = *size;
    const std::int64_t px = header->szlDevice.cx, py = header->szlDevice.cy;
    const std::int64_t mx = std::int64_t{header->szlMillimeters.cx} * 100;
    const std::int64_t my = std::int64_t{header->szlMillimeters.cy} * 100;
    header->rclBounds.left = static_cast<LONG>(size->left * px / mx);
    header->rclBounds.top = static_cast<LONG>(size->top * py / my);
    header->rclBounds.right = static_cast<LONG>(size->right * px / mx);
    header->rclBounds.bottom = static_cast<LONG>(size->bottom * py / my);
  } else {
    header->rclBounds = RECTL{-10, -10, 10, 10};
    updateFrameFromBounds();
  }
  pen = stock<PEN>(BLACK_PEN);
  brush = stock<BRUSH>(BLACK_BRUSH);
  font = stock<FONT>(DEVICE_DEFAULT_FONT);
  palette = stock<PALETTE>(DEFAULT_PALETTE);
  globalObjects.add(this);
}

METAFILEDEVICECONTEXT::~METAFILEDEVICECONTEXT() {
  deleteMetafile();
  if (ownsFile && fp) std::fclose(fp);
}

void METAFILEDEVICECONTEXT::deleteMetafile() {
  for (METARECORD* r : records) delete r;
  records.clear();
  header = nullptr;
}

bool METAFILEDEVICECONTEXT::appendRecord(METARECORD* record) {
  if (!header) {
    delete record;
    return false;
  }
  records.push_back(record);
  header->nBytes += static_cast<DWORD>(record->size());
  header->nRecords += 1;
  return true;
}

unsigned int METAFILEDEVICECONTEXT::nextHandle() {
  if (!header) return 0;
  for (std::size_t i = 1; i < handles.size(); ++i) {
    if (!handles[i]) {
      handles[i] = true;
      return static_cast<unsigned int>(i);
    }
  }
  handles.push_back(true);
  header->nHandles = static_cast<WORD>(std::min<std::size_t>(handles.size(), 0xFFFF));
  return static_cast<unsigned int>(handles.size() - 1);
}

void METAFILEDEVICECONTEXT::freeHandle(unsigned int number) {
  if (number > 0 && number < handles.size()) handles[number] = false;
}

void METAFILEDEVICECONTEXT::updateFrameFromBounds() {
  if (!header || header->szlDevice.cx == 0 || header->szlDevice.cy == 0) return;
  const float sx = static_cast<float>(header->szlMillimeters.cx) * 100.0f / static_cast<float>(header->szlDevice.cx);
  const float sy = static_cast<float>(header->szlMillimeters.cy) * 100.0f / static_cast<float>(header->szlDevice.cy);
  const RECTL& b = header->rclBounds;
  header->rclFrame.left = clampLong(std::floor(static_cast<float>(b.left) * sx));
  header->rclFrame.top = clampLong(std::floor(static_cast<float>(b.top) * sy));
  header->rclFrame.right = clampLong(std::ceil(static_cast<float>(b.right) * sx));
  header->rclFrame.bottom = clampLong(std::ceil(static_cast<float>(b.bottom) * sy));
}

void METAFILEDEVICECONTEXT::mergePoint(LONG x, LONG y) {
  if (!header || !update_frame || window_ext.cx == 0 || window_ext.cy == 0) return;
  const float fx = static_cast<float>(viewport_org.x) +
                   static_cast<float>(viewport_ext.cx) *
                       ((static_cast<float>(x) - static_cast<float>(window_org.x)) / static_cast<float>(window_ext.cx));
  const float fy = static_cast<float>(viewport_org.y) +
                   static_cast<float>(viewport_ext.cy) *
                       ((static_cast<float>(y) - static_cast<float>(window_org.y)) / static_cast<float>(window_ext.cy));
  const LONG xd = clampLong(std::trunc(fx));
  const LONG yd = clampLong(std::trunc(fy));
  bool changed = false;
  if (xd < min_device_point.x) {
    min_device_point.x = xd;
    header->rclBounds.left = clampLong(static_cast<double>(xd) - 10);
    changed = true;
  } else if (xd > max_device_point.x) {
    max_device_point.x = xd;
    header->rclBounds.right = clampLong(static_cast<double>(xd) + 10);
    changed = true;
  }
  if (yd < min_device_point.y) {
    min_device_point.y = yd;
    header->rclBounds.top = clampLong(static_cast<double>(yd) - 10);
    changed = true;
  } else if (yd > max_device_point.y) {
    max_device_point.y = yd;
    header->rclBounds.bottom = clampLong(static_cast<double>(yd) + 10);
    changed = true;
  }
  if (changed) updateFrameFromBounds();
}

METAFILEDEVICECONTEXT* findContext(unsigned int handle) {
  return dynamic_cast<METAFILEDEVICECONTEXT*>(globalObjects.find(handle));
}

}  // namespace EMF
