// Text dumps of the records on standard output.
#include <cstdio>
#include <string>

#include "diagramkit/emf/records.h"

namespace EMF {

namespace {

void title(const char* name) { std::printf("*%s*\n", name); }
void field(const char* name, long long v) { std::printf("\t%s\t: %lld\n", name, v); }
void hexField(const char* name, unsigned v) { std::printf("\t%s\t: 0x%08x\n", name, v); }
void floatField(const char* name, double v) { std::printf("\t%s\t: %f\n", name, v); }
void textField(const char* name, const std::string& v) { std::printf("\t%s\t: %s\n", name, v.c_str()); }
void rect(const char* name, const RECTL& r) {
  std::printf("\t%s\t: (%d, %d) - (%d, %d)\n", name, r.left, r.top, r.right, r.bottom);
}
void point(const char* name, LONG x, LONG y) { std::printf("\t%s\t: (%d, %d)\n", name, x, y); }
void editXform(const XFORM& x) {
  floatField("eM11", x.eM11);
  floatField("eM12", x.eM12);
  floatField("eM21", x.eM21);
  floatField("eM22", x.eM22);
  floatField("eDx", x.eDx);
  floatField("eDy", x.eDy);
}
template <typename P>
void points(const char* name, const std::vector<P>& pts) {
  for (const P& p : pts) point(name, p.x, p.y);
}
void counts(const std::vector<DWORD>& c) {
  for (DWORD n : c) field("aPolyCounts", n);
}
std::string narrow(const WCHAR* s, std::size_t max) {
  std::string out;
  for (std::size_t i = 0; i < max && s[i]; ++i) out += s[i] < 0x80 ? static_cast<char>(s[i]) : '?';
  return out;
}

}  // namespace

std::string edit_pen_style(DWORD style) {
  static const char* const kinds[] = {"PS_SOLID",      "PS_DASH",        "PS_DOT",
                                      "PS_DASHDOT",    "PS_DASHDOTDOT",  "PS_NULL",
                                      "PS_INSIDEFRAME", "PS_USERSTYLE",  "PS_ALTERNATE"};
  const DWORD kind = style & 0xF;
  std::string s = kind < 9 ? kinds[kind] : "PS_UNKNOWN(" + std::to_string(kind) + ")";
  switch (style & 0xF00) {
    case 0x100: s += " | PS_ENDCAP_SQUARE"; break;
    case 0x200: s += " | PS_ENDCAP_FLAT"; break;
    default: break;
  }
  switch (style & 0xF000) {
    case 0x1000: s += " | PS_JOIN_BEVEL"; break;
    case 0x2000: s += " | PS_JOIN_MITER"; break;
    default: break;
  }
  if ((style & 0xF0000) == 0x10000) s += " | PS_GEOMETRIC";
  return s;
}

std::string edit_brush_style(DWORD style) {
  static const char* const names[] = {"BS_SOLID",       "BS_NULL",         "BS_HATCHED",    "BS_PATTERN",
                                      "BS_INDEXED",     "BS_DIBPATTERN",   "BS_DIBPATTERNPT", "BS_PATTERN8X8",
                                      "BS_DIBPATTERN8X8", "BS_MONOPATTERN"};
  return style < 10 ? names[style] : "BS_UNKNOWN(" + std::to_string(style) + ")";
}

std::string edit_brush_hatch(DWORD hatch) {
  static const char* const names[] = {"HS_HORIZONTAL", "HS_VERTICAL", "HS_FDIAGONAL",
                                      "HS_BDIAGONAL",  "HS_CROSS",    "HS_DIAGCROSS"};
  return hatch < 6 ? names[hatch] : "HS_UNKNOWN(" + std::to_string(hatch) + ")";
}

void ENHMETAHEADER::edit() const {
  title("HEADER");
  rect("rclBounds", rclBounds);
  rect("rclFrame", rclFrame);
  hexField("dSignature", dSignature);
  hexField("nVersion", nVersion);
  field("nBytes", nBytes);
  field("nRecords", nRecords);
  field("nHandles", nHandles);
  field("nDescription", nDescription);
  field("offDescription", offDescription);
  field("nPalEntries", nPalEntries);
  point("szlDevice", szlDevice.cx, szlDevice.cy);
  point("szlMillimeters", szlMillimeters.cx, szlMillimeters.cy);
  field("cbPixelFormat", cbPixelFormat);
  field("offPixelFormat", offPixelFormat);
  field("bOpenGL", bOpenGL);
  point("szlMicrometers", szlMicrometers.cx, szlMicrometers.cy);
  std::string text;
  for (WCHAR c : description) text += c == 0 ? '|' : (c < 0x80 ? static_cast<char>(c) : '?');
  textField("description", text);
}

void POLY32RECORD::editPoints(const char* name) const {
  title(name);
  rect("rclBounds", rclBounds);
  field("cptl", cptl);
  points("aptl", aptl);
}

void POLY16RECORD::editPoints(const char* name) const {
  title(name);
  rect("rclBounds", rclBounds);
  field("cpts", cpts);
  points("apts", apts);
}

void EMRPOLYBEZIER::edit() const { editPoints("POLYBEZIER"); }
void EMRPOLYGON::edit() const { editPoints("POLYGON"); }
void EMRPOLYLINE::edit() const { editPoints("POLYLINE"); }
void EMRPOLYBEZIERTO::edit() const { editPoints("POLYBEZIERTO"); }
void EMRPOLYLINETO::edit() const { editPoints("POLYLINETO"); }
void EMRPOLYBEZIER16::edit() const { editPoints("POLYBEZIER16"); }
void EMRPOLYGON16::edit() const { editPoints("POLYGON16"); }
void EMRPOLYLINE16::edit() const { editPoints("POLYLINE16"); }
void EMRPOLYBEZIERTO16::edit() const { editPoints("POLYBEZIERTO16"); }
void EMRPOLYLINETO16::edit() const { editPoints("POLYLINETO16"); }

void EMRPOLYPOLYGON::edit() const {
  title("POLYPOLYGON");
  rect("rclBounds", rclBounds);
  field("nPolys", nPolys);
  field("cptl", cptl);
  counts(aPolyCounts);
  points("aptl", aptl);
}

void EMRPOLYPOLYGON16::edit() const {
  title("POLYPOLYGON16");
  rect("rclBounds", rclBounds);
  field("nPolys", nPolys);
  field("cpts", cpts);
  counts(aPolyCounts);
  points("apts", apts);
}

void EMRSETWINDOWEXTEX::edit() const {
  title("SETWINDOWEXTEX");
  point("szlExtent", szlExtent.cx, szlExtent.cy);
}
void EMRSETVIEWPORTEXTEX::edit() const {
  title("SETVIEWPORTEXTEX");
  point("szlExtent", szlExtent.cx, szlExtent.cy);
}
void EMRSETWINDOWORGEX::edit() const {
  title("SETWINDOWORGEX");
  point("ptlOrigin", ptlOrigin.x, ptlOrigin.y);
}
void EMRSETVIEWPORTORGEX::edit() const {
  title("SETVIEWPORTORGEX");
  point("ptlOrigin", ptlOrigin.x, ptlOrigin.y);
}
void EMRMOVETOEX::edit() const {
  title("MOVETOEX");
  point("ptl", ptl.x, ptl.y);
}
void EMRLINETO::edit() const {
  title("LINETO");
  point("ptl", ptl.x, ptl.y);
}
void EMREOF::edit() const {
  title("EOF");
  field("nPalEntries", nPalEntries);
  field("offPalEntries", offPalEntries);
  field("nSizeLast", nSizeLast);
}
void EMRSETPIXELV::edit() const {
  title("SETPIXELV");
  point("ptlPixel", ptlPixel.x, ptlPixel.y);
  hexField("crColor", crColor);
}
void EMRSETMAPMODE::edit() const {
  title("SETMAPMODE");
  field("iMode", iMode);
}
void EMRSETBKMODE::edit() const {
  title("SETBKMODE");
  field("iMode", iMode);
}
void EMRSETPOLYFILLMODE::edit() const {
  title("SETPOLYFILLMODE");
  field("iMode", iMode);
}
void EMRSETTEXTALIGN::edit() const {
  title("SETTEXTALIGN");
  field("iMode", iMode);
}
void EMRSETTEXTCOLOR::edit() const {
  title("SETTEXTCOLOR");
  hexField("crColor", crColor);
}
void EMRSETBKCOLOR::edit() const {
  title("SETBKCOLOR");
  hexField("crColor", crColor);
}
void EMRRESTOREDC::edit() const {
  title("RESTOREDC");
  field("iRelative", iRelative);
}
void EMRSELECTOBJECT::edit() const {
  title("SELECTOBJECT");
  hexField("ihObject", ihObject);
}
void EMRDELETEOBJECT::edit() const {
  title("DELETEOBJECT");
  hexField("ihObject", ihObject);
}
void EMRSETMETARGN::edit() const { title("SETMETARGN"); }
void EMRSAVEDC::edit() const { title("SAVEDC"); }
void EMRBEGINPATH::edit() const { title("BEGINPATH"); }
void EMRENDPATH::edit() const { title("ENDPATH"); }
void EMRCLOSEFIGURE::edit() const { title("CLOSEFIGURE"); }

void EMRSCALEVIEWPORTEXTEX::edit() const {
  title("SCALEVIEWPORTEXTEX");
  field("xNum", xNum);
  field("xDenom", xDenom);
  field("yNum", yNum);
  field("yDenom", yDenom);
}
void EMRSCALEWINDOWEXTEX::edit() const {
  title("SCALEWINDOWEXTEX");
  field("xNum", xNum);
  field("xDenom", xDenom);
  field("yNum", yNum);
  field("yDenom", yDenom);
}
void EMRSETWORLDTRANSFORM::edit() const {
  title("SETWORLDTRANSFORM");
  editXform(xform);
}
void EMRMODIFYWORLDTRANSFORM::edit() const {
  title("MODIFYWORLDTRANSFORM");
  editXform(xform);
  field("iMode", iMode);
}
void EMRCREATEPEN::edit() const {
  title("CREATEPEN");
  hexField("ihPen", ihPen);
  textField("lopnStyle", edit_pen_style(lopn.lopnStyle));
  point("lopnWidth", lopn.lopnWidth.x, lopn.lopnWidth.y);
  hexField("lopnColor", lopn.lopnColor);
}
void EMRCREATEBRUSHINDIRECT::edit() const {
  title("CREATEBRUSHINDIRECT");
  hexField("ihBrush", ihBrush);
  textField("lbStyle", edit_brush_style(lb.lbStyle));
  hexField("lbColor", lb.lbColor);
  textField("lbHatch", edit_brush_hatch(static_cast<DWORD>(lb.lbHatch)));
}
void EMRELLIPSE::edit() const {
  title("ELLIPSE");
  rect("rclBox", rclBox);
}
void EMRRECTANGLE::edit() const {
  title("RECTANGLE");
  rect("rclBox", rclBox);
}
void EMRARC::edit() const {
  title("ARC");
  rect("rclBox", rclBox);
  point("ptlStart", ptlStart.x, ptlStart.y);
  point("ptlEnd", ptlEnd.x, ptlEnd.y);
}
void EMRARCTO::edit() const {
  title("ARCTO");
  rect("rclBox", rclBox);
  point("ptlStart", ptlStart.x, ptlStart.y);
  point("ptlEnd", ptlEnd.x, ptlEnd.y);
}
void EMRCREATEPALETTE::edit() const { std::printf("*CREATEPALETTE* (palettes are not handled)\n"); }
void EMRSETMITERLIMIT::edit() const {
  title("SETMITERLIMIT");
  floatField("eMiterLimit", eMiterLimit);
}
void EMRFILLPATH::edit() const {
  title("FILLPATH");
  rect("rclBounds", rclBounds);
}
void EMRSTROKEANDFILLPATH::edit() const {
  title("STROKEANDFILLPATH");
  rect("rclBounds", rclBounds);
}
void EMRSTROKEPATH::edit() const {
  title("STROKEPATH");
  rect("rclBounds", rclBounds);
}
void EMREXTCREATEFONTINDIRECTW::edit() const {
  const LOGFONTW& f = elfw.elfLogFont;
  title("EXTCREATEFONTINDIRECTW");
  hexField("ihFont", ihFont);
  field("lfHeight", f.lfHeight);
  field("lfWidth", f.lfWidth);
  field("lfEscapement", f.lfEscapement);
  field("lfOrientation", f.lfOrientation);
  field("lfWeight", f.lfWeight);
  field("lfItalic", f.lfItalic);
  field("lfUnderline", f.lfUnderline);
  field("lfStrikeOut", f.lfStrikeOut);
  field("lfCharSet", f.lfCharSet);
  field("lfOutPrecision", f.lfOutPrecision);
  field("lfClipPrecision", f.lfClipPrecision);
  field("lfQuality", f.lfQuality);
  field("lfPitchAndFamily", f.lfPitchAndFamily);
  textField("lfFaceName", narrow(f.lfFaceName, LF_FACESIZE));
  textField("elfFullName", narrow(elfw.elfFullName, LF_FULLFACESIZE));
  textField("elfStyle", narrow(elfw.elfStyle, LF_FACESIZE));
  field("elfVersion", elfw.elfVersion);
  field("elfStyleSize", elfw.elfStyleSize);
  field("elfMatch", elfw.elfMatch);
  field("elfCulture", elfw.elfCulture);
}
void EMREXTTEXTOUTA::edit() const {
  title("EXTTEXTOUTA");
  rect("rclBounds", rclBounds);
  field("iGraphicsMode", iGraphicsMode);
  floatField("exScale", exScale);
  floatField("eyScale", eyScale);
  point("ptlReference", emrtext.ptlReference.x, emrtext.ptlReference.y);
  field("nChars", emrtext.nChars);
  field("offString", emrtext.offString);
  hexField("fOptions", emrtext.fOptions);
  rect("rcl", emrtext.rcl);
  field("offDx", emrtext.offDx);
  textField("string", std::string(string_a.data(), string_a.size() < emrtext.nChars ? string_a.size() : emrtext.nChars));
  for (LONG d : dx) field("dx", d);
}
void EMREXTCREATEPEN::edit() const {
  title("EXTCREATEPEN");
  hexField("ihPen", ihPen);
  field("offBmi", offBmi);
  field("cbBmi", cbBmi);
  field("offBits", offBits);
  field("cbBits", cbBits);
  textField("elpPenStyle", edit_pen_style(elp.elpPenStyle));
  field("elpWidth", elp.elpWidth);
  textField("elpBrushStyle", edit_brush_style(elp.elpBrushStyle));
  hexField("elpColor", elp.elpColor);
  textField("elpHatch", edit_brush_hatch(static_cast<DWORD>(elp.elpHatch)));
  field("elpNumEntries", elp.elpNumEntries);
}

}  // namespace EMF
