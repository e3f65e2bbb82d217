// Playback: each record makes the same record on the target context through the GDI calls.
#include <vector>

#include "diagramkit/emf/devicecontext.h"
#include "diagramkit/emf/emf.h"

namespace EMF {

namespace {

// A handle number of the source metafile as the live object it stands for; stock handles pass.
bool liveHandle(const METAFILEDEVICECONTEXT* source, DWORD number, HGDIOBJ& out) {
  if (number & ENHMETA_STOCK_OBJECT) {
    out = number;
    return true;
  }
  auto it = source->emf_handles.find(number);
  if (it == source->emf_handles.end()) return false;
  out = it->second;
  return true;
}

}  // namespace

void EMRPOLYBEZIER::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  PolyBezier(dc, aptl.data(), static_cast<INT>(cptl));
}
void EMRPOLYGON::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Polygon(dc, aptl.data(), static_cast<INT>(cptl));
}
void EMRPOLYLINE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Polyline(dc, aptl.data(), static_cast<INT>(cptl));
}
void EMRPOLYBEZIERTO::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  PolyBezierTo(dc, aptl.data(), static_cast<INT>(cptl));
}
void EMRPOLYLINETO::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  PolylineTo(dc, aptl.data(), static_cast<INT>(cptl));
}
void EMRPOLYBEZIER16::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  PolyBezier16(dc, apts.data(), static_cast<INT>(cpts));
}
void EMRPOLYGON16::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Polygon16(dc, apts.data(), static_cast<INT>(cpts));
}
void EMRPOLYLINE16::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Polyline16(dc, apts.data(), static_cast<INT>(cpts));
}
void EMRPOLYBEZIERTO16::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  PolyBezierTo16(dc, apts.data(), static_cast<INT>(cpts));
}
void EMRPOLYLINETO16::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  PolylineTo16(dc, apts.data(), static_cast<INT>(cpts));
}

namespace {
// Counts that fit the point array, so playback never reads past it.
std::vector<INT> fittingCounts(const std::vector<DWORD>& counts, DWORD points) {
  std::vector<INT> out;
  DWORD left = points;
  for (DWORD c : counts) {
    const DWORD n = c < left ? c : left;
    out.push_back(static_cast<INT>(n));
    left -= n;
  }
  return out;
}
}  // namespace

void EMRPOLYPOLYGON::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  const std::vector<INT> counts = fittingCounts(aPolyCounts, cptl);
  PolyPolygon(dc, aptl.data(), counts.data(), static_cast<INT>(counts.size()));
}
void EMRPOLYPOLYGON16::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  const std::vector<INT> counts = fittingCounts(aPolyCounts, cpts);
  PolyPolygon16(dc, apts.data(), counts.data(), static_cast<INT>(counts.size()));
}

void ENHMETAHEADER::execute(METAFILEDEVICECONTEXT*, unsigned int) const {}
void EMREOF::execute(METAFILEDEVICECONTEXT*, unsigned int) const {}
void EMRCREATEPALETTE::execute(METAFILEDEVICECONTEXT*, unsigned int) const {}

void EMRSETWINDOWEXTEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetWindowExtEx(dc, szlExtent.cx, szlExtent.cy, nullptr);
}
void EMRSETVIEWPORTEXTEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetViewportExtEx(dc, szlExtent.cx, szlExtent.cy, nullptr);
}
void EMRSETWINDOWORGEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetWindowOrgEx(dc, ptlOrigin.x, ptlOrigin.y, nullptr);
}
void EMRSETVIEWPORTORGEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetViewportOrgEx(dc, ptlOrigin.x, ptlOrigin.y, nullptr);
}
void EMRMOVETOEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { MoveToEx(dc, ptl.x, ptl.y, nullptr); }
void EMRLINETO::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { LineTo(dc, ptl.x, ptl.y); }
void EMRSETPIXELV::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetPixel(dc, ptlPixel.x, ptlPixel.y, crColor);
}
void EMRSETMAPMODE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetMapMode(dc, static_cast<INT>(iMode));
}
void EMRSETBKMODE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SetBkMode(dc, static_cast<INT>(iMode)); }
void EMRSETPOLYFILLMODE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetPolyFillMode(dc, static_cast<INT>(iMode));
}
void EMRSETTEXTALIGN::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SetTextAlign(dc, iMode); }
void EMRSETTEXTCOLOR::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SetTextColor(dc, crColor); }
void EMRSETBKCOLOR::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SetBkColor(dc, crColor); }
void EMRRESTOREDC::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { RestoreDC(dc, iRelative); }
void EMRSETMETARGN::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SetMetaRgn(dc); }
void EMRSAVEDC::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SaveDC(dc); }
void EMRBEGINPATH::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { BeginPath(dc); }
void EMRENDPATH::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { EndPath(dc); }
void EMRCLOSEFIGURE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { CloseFigure(dc); }
void EMRFILLPATH::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { FillPath(dc); }
void EMRSTROKEANDFILLPATH::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { StrokeAndFillPath(dc); }
void EMRSTROKEPATH::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { StrokePath(dc); }
void EMRSCALEVIEWPORTEXTEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  ScaleViewportExtEx(dc, xNum, xDenom, yNum, yDenom, nullptr);
}
void EMRSCALEWINDOWEXTEX::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  ScaleWindowExtEx(dc, xNum, xDenom, yNum, yDenom, nullptr);
}
void EMRSETWORLDTRANSFORM::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const { SetWorldTransform(dc, &xform); }
void EMRMODIFYWORLDTRANSFORM::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  ModifyWorldTransform(dc, &xform, iMode);
}
void EMRSETMITERLIMIT::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  SetMiterLimit(dc, eMiterLimit, nullptr);
}
void EMRELLIPSE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Ellipse(dc, rclBox.left, rclBox.top, rclBox.right, rclBox.bottom);
}
void EMRRECTANGLE::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Rectangle(dc, rclBox.left, rclBox.top, rclBox.right, rclBox.bottom);
}
void EMRARC::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  Arc(dc, rclBox.left, rclBox.top, rclBox.right, rclBox.bottom, ptlStart.x, ptlStart.y, ptlEnd.x, ptlEnd.y);
}
void EMRARCTO::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  ArcTo(dc, rclBox.left, rclBox.top, rclBox.right, rclBox.bottom, ptlStart.x, ptlStart.y, ptlEnd.x, ptlEnd.y);
}

void EMRSELECTOBJECT::execute(METAFILEDEVICECONTEXT* source, unsigned int dc) const {
  HGDIOBJ h = 0;
  if (liveHandle(source, ihObject, h)) SelectObject(dc, h);
}

void EMRDELETEOBJECT::execute(METAFILEDEVICECONTEXT* source, unsigned int) const {
  if (ihObject & ENHMETA_STOCK_OBJECT) return;
  auto it = source->emf_handles.find(ihObject);
  if (it == source->emf_handles.end()) return;
  DeleteObject(it->second);
  source->emf_handles.erase(it);
}

void EMRCREATEPEN::execute(METAFILEDEVICECONTEXT* source, unsigned int) const {
  source->emf_handles[ihPen] = CreatePenIndirect(&lopn);
}
void EMRCREATEBRUSHINDIRECT::execute(METAFILEDEVICECONTEXT* source, unsigned int) const {
  source->emf_handles[ihBrush] = CreateBrushIndirect(&lb);
}
void EMREXTCREATEFONTINDIRECTW::execute(METAFILEDEVICECONTEXT* source, unsigned int) const {
  source->emf_handles[ihFont] = CreateFontIndirectW(&elfw.elfLogFont);
}
void EMREXTCREATEPEN::execute(METAFILEDEVICECONTEXT* source, unsigned int) const {
  const LOGBRUSH brush{elp.elpBrushStyle, elp.elpColor, elp.elpHatch};
  source->emf_handles[ihPen] = ExtCreatePen(elp.elpPenStyle, elp.elpWidth, &brush, 0, nullptr);
}

void EMREXTTEXTOUTA::execute(METAFILEDEVICECONTEXT*, unsigned int dc) const {
  const DWORD n = string_a.empty() ? 0 : emrtext.nChars;
  std::vector<INT> advances(dx.begin(), dx.end());
  ExtTextOutA(dc, emrtext.ptlReference.x, emrtext.ptlReference.y, emrtext.fOptions, &rclBounds,
              string_a.empty() ? nullptr : string_a.data(), n,
              dx.size() == n && n ? advances.data() : nullptr);
}

}  // namespace EMF
