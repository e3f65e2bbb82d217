#pragma once
// Fixed-width copies of the Windows GDI types and the EMF structures, so the library builds
// without the Windows headers and means the same on every host.

#include <cstdint>

namespace EMF {

using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using WORD = std::uint16_t;
using WCHAR = char16_t;  // one UTF-16 code unit
using SHORT = std::int16_t;
using BYTE = std::uint8_t;
using FLOAT = float;
using COLORREF = std::uint32_t;

struct POINT16 {
  SHORT x = 0, y = 0;
};
struct POINTL {
  LONG x = 0, y = 0;
};
using POINT = POINTL;
struct SIZEL {
  LONG cx = 0, cy = 0;
};
struct RECTL {
  LONG left = 0, top = 0, right = 0, bottom = 0;
};
struct XFORM {
  FLOAT eM11 = 0, eM12 = 0, eM21 = 0, eM22 = 0, eDx = 0, eDy = 0;
};
struct LOGPEN {
  UINT lopnStyle = 0;
  POINTL lopnWidth;
  COLORREF lopnColor = 0;
};
struct EXTLOGPEN {
  DWORD elpPenStyle = 0;
  DWORD elpWidth = 0;
  UINT elpBrushStyle = 0;
  COLORREF elpColor = 0;
  LONG elpHatch = 0;
  DWORD elpNumEntries = 0;
};
struct LOGBRUSH {
  UINT lbStyle = 0;
  COLORREF lbColor = 0;
  LONG lbHatch = 0;
};
constexpr int LF_FACESIZE = 32;
constexpr int LF_FULLFACESIZE = 64;
struct LOGFONTW {
  LONG lfHeight = 0, lfWidth = 0, lfEscapement = 0, lfOrientation = 0, lfWeight = 0;
  BYTE lfItalic = 0, lfUnderline = 0, lfStrikeOut = 0, lfCharSet = 0, lfOutPrecision = 0,
       lfClipPrecision = 0, lfQuality = 0, lfPitchAndFamily = 0;
  WCHAR lfFaceName[LF_FACESIZE] = {};
};
struct LOGFONTA {
  LONG lfHeight = 0, lfWidth = 0, lfEscapement = 0, lfOrientation = 0, lfWeight = 0;
  BYTE lfItalic = 0, lfUnderline = 0, lfStrikeOut = 0, lfCharSet = 0, lfOutPrecision = 0,
       lfClipPrecision = 0, lfQuality = 0, lfPitchAndFamily = 0;
  char lfFaceName[LF_FACESIZE] = {};
};
struct PANOSE {
  BYTE bFamilyType = 0, bSerifStyle = 0, bWeight = 0, bProportion = 0, bContrast = 0,
       bStrokeVariation = 0, bArmStyle = 0, bLetterform = 0, bMidline = 0, bXHeight = 0;
};
struct EXTLOGFONTW {
  LOGFONTW elfLogFont;
  WCHAR elfFullName[LF_FULLFACESIZE] = {};
  WCHAR elfStyle[LF_FACESIZE] = {};
  DWORD elfVersion = 0, elfStyleSize = 0, elfMatch = 0, elfReserved = 0;
  BYTE elfVendorId[4] = {};
  DWORD elfCulture = 0;
  PANOSE elfPanose;
};
struct EXTLOGFONTA {
  LOGFONTA elfLogFont;
  char elfFullName[LF_FULLFACESIZE] = {};
  char elfStyle[LF_FACESIZE] = {};
  DWORD elfVersion = 0, elfStyleSize = 0, elfMatch = 0, elfReserved = 0;
  BYTE elfVendorId[4] = {};
  DWORD elfCulture = 0;
  PANOSE elfPanose;
};
static_assert(sizeof(LOGFONTA) == 60 && sizeof(EXTLOGFONTA) == 192);
static_assert(sizeof(LOGPEN) == 16 && sizeof(LOGBRUSH) == 12);

struct EMRTEXT {
  POINTL ptlReference;
  DWORD nChars = 0;
  DWORD offString = 0;
  DWORD fOptions = 0;
  RECTL rcl;
  DWORD offDx = 0;
};
struct PALETTEENTRY {
  BYTE peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};
struct LOGPALETTE {
  WORD palVersion = 0;
  WORD palNumEntries = 0;
  PALETTEENTRY palPalEntry[1];
};

// Record types.
enum : DWORD {
  EMR_HEADER = 1,
  EMR_POLYBEZIER = 2,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6,
  EMR_POLYPOLYGON = 8,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_EOF = 14,
  EMR_SETPIXELV = 15,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_SETMETARGN = 28,
  EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ARC = 45,
  EMR_CREATEPALETTE = 49,
  EMR_LINETO = 54,
  EMR_ARCTO = 55,
  EMR_SETMITERLIMIT = 58,
  EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60,
  EMR_CLOSEFIGURE = 61,
  EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83,
  EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYGON16 = 91,
  EMR_EXTCREATEPEN = 95,
};

// Object types answered by getType().
enum : int {
  OBJ_PEN = 1,
  OBJ_BRUSH = 2,
  OBJ_DC = 4,
  OBJ_PAL = 5,
  OBJ_FONT = 6,
  OBJ_EXTPEN = 11,
};

// Stock objects.
enum : int {
  WHITE_BRUSH = 0,
  LTGRAY_BRUSH = 1,
  GRAY_BRUSH = 2,
  DKGRAY_BRUSH = 3,
  BLACK_BRUSH = 4,
  NULL_BRUSH = 5,
  WHITE_PEN = 6,
  BLACK_PEN = 7,
  NULL_PEN = 8,
  OEM_FIXED_FONT = 10,
  ANSI_FIXED_FONT = 11,
  ANSI_VAR_FONT = 12,
  SYSTEM_FONT = 13,
  DEVICE_DEFAULT_FONT = 14,
  DEFAULT_PALETTE = 15,
  SYSTEM_FIXED_FONT = 16,
  DEFAULT_GUI_FONT = 17,
  STOCK_LAST = 17,
};
constexpr DWORD ENHMETA_STOCK_OBJECT = 0x80000000u;

enum : DWORD { MWT_IDENTITY = 1, MWT_LEFTMULTIPLY = 2, MWT_RIGHTMULTIPLY = 3 };
enum : UINT { BS_SOLID = 0, BS_NULL = 1, BS_HOLLOW = 1, BS_HATCHED = 2, BS_PATTERN = 3 };
enum : UINT { PS_SOLID = 0, PS_DASH = 1, PS_NULL = 5 };

}  // namespace EMF
