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
  staticForm = XFORM{1, 0, 0, 1, 0, 0};
  staticPen = EXTLOGPEN{};
  staticBush = LOGBRUSH{0, 0xFFFFFF, 0};
  staticBushIsUsed = false;
  staticPenIsUsed = true;
  isInPath = false;
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
