#pragma once
// The EMF library's GDI-style call interface. These are the only symbols the library exports;
// every handle is an unsigned 32-bit number in the library's handle table, 0 on failure.

#include <cstdio>

#include "diagramkit/emf/emftypes.h"

#define EMF_API extern "C" __attribute__((visibility("default")))

using HDC = unsigned int;
using HENHMETAFILE = unsigned int;
using HGDIOBJ = unsigned int;
using HPEN = unsigned int;
using HBRUSH = unsigned int;
using HFONT = unsigned int;
using BOOL = int;

// Metafile life.
EMF_API HDC CreateEnhMetaFileA(HDC ref, const char* path, const EMF::RECTL* frame, const char* description);
EMF_API HDC CreateEnhMetaFileW(HDC ref, const EMF::WCHAR* path, const EMF::RECTL* frame,
                               const EMF::WCHAR* description);
EMF_API HDC CreateEnhMetaFileWithFILEA(HDC ref, FILE* fp, const EMF::RECTL* frame, const char* description);
EMF_API HDC CreateEnhMetaFileWithFILEW(HDC ref, FILE* fp, const EMF::RECTL* frame,
                                       const EMF::WCHAR* description);
EMF_API HDC CreateMetaFileA(const char* path);
EMF_API HENHMETAFILE CloseEnhMetaFile(HDC dc);
EMF_API HENHMETAFILE CloseEnhMetaFileWithFILE(HDC dc);
EMF_API HENHMETAFILE CloseMetaFile(HDC dc);
EMF_API BOOL DeleteEnhMetaFile(HENHMETAFILE metafile);
EMF_API BOOL DeleteMetaFile(HENHMETAFILE metafile);
EMF_API BOOL DeleteDC(HDC dc);
EMF_API HENHMETAFILE GetEnhMetaFileA(const char* path);
EMF_API HENHMETAFILE GetEnhMetaFileW(const EMF::WCHAR* path);
// Copies the header in file layout, at most 108 bytes and at most `size`.
EMF_API EMF::UINT GetEnhMetaFileHeader(HENHMETAFILE metafile, EMF::UINT size, void* buffer);

// Objects.
EMF_API HPEN CreatePen(EMF::INT style, EMF::INT width, EMF::COLORREF color);
EMF_API HPEN CreatePenIndirect(const EMF::LOGPEN* pen);
EMF_API HPEN ExtCreatePen(EMF::DWORD style, EMF::DWORD width, const EMF::LOGBRUSH* brush, EMF::DWORD count,
                          const EMF::DWORD* entries);
EMF_API HBRUSH CreateSolidBrush(EMF::COLORREF color);
EMF_API HBRUSH CreateBrushIndirect(const EMF::LOGBRUSH* brush);
EMF_API HFONT CreateFontA(EMF::INT height, EMF::INT width, EMF::INT escapement, EMF::INT orientation,
                          EMF::INT weight, EMF::DWORD italic, EMF::DWORD underline, EMF::DWORD strikeout,
                          EMF::DWORD charset, EMF::DWORD outprecision, EMF::DWORD clipprecision,
                          EMF::DWORD quality, EMF::DWORD pitchandfamily, const char* face);
EMF_API HFONT CreateFontW(EMF::INT height, EMF::INT width, EMF::INT escapement, EMF::INT orientation,
                          EMF::INT weight, EMF::DWORD italic, EMF::DWORD underline, EMF::DWORD strikeout,
                          EMF::DWORD charset, EMF::DWORD outprecision, EMF::DWORD clipprecision,
                          EMF::DWORD quality, EMF::DWORD pitchandfamily, const EMF::WCHAR* face);
EMF_API HFONT CreateFontIndirectA(const EMF::LOGFONTA* font);
EMF_API HFONT CreateFontIndirectW(const EMF::LOGFONTW* font);
EMF_API HGDIOBJ GetStockObject(EMF::INT index);
EMF_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
EMF_API BOOL DeleteObject(HGDIOBJ object);
EMF_API EMF::INT GetObjectA(HGDIOBJ object, EMF::INT size, void* buffer);

// State.
EMF_API BOOL SetViewportOrgEx(HDC dc, EMF::INT x, EMF::INT y, EMF::POINTL* previous);
EMF_API BOOL SetWindowOrgEx(HDC dc, EMF::INT x, EMF::INT y, EMF::POINTL* previous);
EMF_API BOOL SetViewportExtEx(HDC dc, EMF::INT cx, EMF::INT cy, EMF::SIZEL* previous);
EMF_API BOOL SetWindowExtEx(HDC dc, EMF::INT cx, EMF::INT cy, EMF::SIZEL* previous);
EMF_API BOOL ScaleViewportExtEx(HDC dc, EMF::INT xNum, EMF::INT xDenom, EMF::INT yNum, EMF::INT yDenom,
                                EMF::SIZEL* previous);
EMF_API BOOL ScaleWindowExtEx(HDC dc, EMF::INT xNum, EMF::INT xDenom, EMF::INT yNum, EMF::INT yDenom,
                              EMF::SIZEL* previous);
EMF_API BOOL GetViewportOrgEx(HDC dc, EMF::POINTL* origin);
EMF_API BOOL GetWindowOrgEx(HDC dc, EMF::POINTL* origin);
EMF_API BOOL GetViewportExtEx(HDC dc, EMF::SIZEL* extent);
EMF_API BOOL GetWindowExtEx(HDC dc, EMF::SIZEL* extent);
EMF_API BOOL ModifyWorldTransform(HDC dc, const EMF::XFORM* xform, EMF::DWORD mode);
EMF_API BOOL SetWorldTransform(HDC dc, const EMF::XFORM* xform);
EMF_API EMF::UINT SetTextAlign(HDC dc, EMF::UINT mode);
EMF_API EMF::COLORREF SetTextColor(HDC dc, EMF::COLORREF color);
EMF_API EMF::COLORREF SetBkColor(HDC dc, EMF::COLORREF color);
EMF_API EMF::INT SetBkMode(HDC dc, EMF::INT mode);
EMF_API EMF::INT SetPolyFillMode(HDC dc, EMF::INT mode);
EMF_API EMF::INT SetMapMode(HDC dc, EMF::INT mode);
EMF_API BOOL SetMiterLimit(HDC dc, EMF::FLOAT limit, EMF::FLOAT* previous);
EMF_API BOOL BeginPath(HDC dc);
EMF_API BOOL EndPath(HDC dc);
EMF_API BOOL CloseFigure(HDC dc);
EMF_API BOOL FillPath(HDC dc);
EMF_API BOOL StrokeAndFillPath(HDC dc);
EMF_API BOOL StrokePath(HDC dc);
EMF_API EMF::INT SaveDC(HDC dc);
EMF_API EMF::INT SetMetaRgn(HDC dc);
EMF_API BOOL RestoreDC(HDC dc, EMF::INT relative);

// Drawing.
EMF_API BOOL MoveToEx(HDC dc, EMF::INT x, EMF::INT y, EMF::POINTL* previous);
EMF_API BOOL LineTo(HDC dc, EMF::INT x, EMF::INT y);
EMF_API BOOL Arc(HDC dc, EMF::INT left, EMF::INT top, EMF::INT right, EMF::INT bottom, EMF::INT xStart,
                 EMF::INT yStart, EMF::INT xEnd, EMF::INT yEnd);
EMF_API BOOL ArcTo(HDC dc, EMF::INT left, EMF::INT top, EMF::INT right, EMF::INT bottom, EMF::INT xStart,
                   EMF::INT yStart, EMF::INT xEnd, EMF::INT yEnd);
EMF_API BOOL Rectangle(HDC dc, EMF::INT left, EMF::INT top, EMF::INT right, EMF::INT bottom);
EMF_API BOOL Ellipse(HDC dc, EMF::INT left, EMF::INT top, EMF::INT right, EMF::INT bottom);
EMF_API BOOL Polyline(HDC dc, const EMF::POINT* points, EMF::INT count);
EMF_API BOOL Polygon(HDC dc, const EMF::POINT* points, EMF::INT count);
EMF_API BOOL PolyBezier(HDC dc, const EMF::POINT* points, EMF::INT count);
EMF_API BOOL PolyBezierTo(HDC dc, const EMF::POINT* points, EMF::INT count);
EMF_API BOOL PolylineTo(HDC dc, const EMF::POINT* points, EMF::INT count);
EMF_API BOOL Polyline16(HDC dc, const EMF::POINT16* points, EMF::INT count);
EMF_API BOOL Polygon16(HDC dc, const EMF::POINT16* points, EMF::INT count);
EMF_API BOOL PolyBezier16(HDC dc, const EMF::POINT16* points, EMF::INT count);
EMF_API BOOL PolyBezierTo16(HDC dc, const EMF::POINT16* points, EMF::INT count);
EMF_API BOOL PolylineTo16(HDC dc, const EMF::POINT16* points, EMF::INT count);
EMF_API BOOL PolyPolygon(HDC dc, const EMF::POINT* points, const EMF::INT* counts, EMF::INT polygons);
EMF_API BOOL PolyPolygon16(HDC dc, const EMF::POINT16* points, const EMF::INT* counts, EMF::INT polygons);
EMF_API BOOL ExtTextOutA(HDC dc, EMF::INT x, EMF::INT y, EMF::UINT options, const EMF::RECTL* clip,
                         const char* text, EMF::UINT length, const EMF::INT* dx);
EMF_API BOOL TextOutA(HDC dc, EMF::INT x, EMF::INT y, const char* text, EMF::INT length);
EMF_API EMF::COLORREF SetPixel(HDC dc, EMF::INT x, EMF::INT y, EMF::COLORREF color);

// Queries and placeholders.
EMF_API EMF::UINT GetDeviceCaps(HDC dc, EMF::INT index);
EMF_API EMF::DWORD GetLastError(void);
EMF_API EMF::INT GetTextFaceA(HDC dc, EMF::INT size, char* face);
EMF_API BOOL SetTextJustification(HDC dc, EMF::INT extra, EMF::INT breaks);
EMF_API BOOL GetTextMetricsA(HDC dc, void* metrics);
EMF_API BOOL GetTextExtentPoint32A(HDC dc, const char* text, EMF::INT length, EMF::SIZEL* size);
EMF_API EMF::INT SetTextCharacterExtra(HDC dc, EMF::INT extra);
EMF_API EMF::INT GetTextCharacterExtra(HDC dc);
EMF_API unsigned int GetDesktopWindow(void);
EMF_API HDC GetDC(unsigned int window);
EMF_API EMF::INT ReleaseDC(unsigned int window, HDC dc);
EMF_API EMF::INT EnumFontFamiliesA(HDC dc, const char* family, void* proc, long param);
EMF_API EMF::INT EnumFontFamiliesW(HDC dc, const EMF::WCHAR* family, void* proc, long param);
EMF_API EMF::INT EnumFontFamiliesExA(HDC dc, EMF::LOGFONTA* font, void* proc, long param, EMF::DWORD flags);
EMF_API EMF::INT EnumFontFamiliesExW(HDC dc, EMF::LOGFONTW* font, void* proc, long param, EMF::DWORD flags);
EMF_API EMF::INT EnumFontsA(HDC dc, const char* face, void* proc, long param);
EMF_API EMF::INT EnumFontsW(HDC dc, const EMF::WCHAR* face, void* proc, long param);
EMF_API EMF::INT StretchDIBits(HDC dc, EMF::INT xDest, EMF::INT yDest, EMF::INT wDest, EMF::INT hDest,
                               EMF::INT xSrc, EMF::INT ySrc, EMF::INT wSrc, EMF::INT hSrc, const void* bits,
                               const void* info, EMF::UINT usage, EMF::DWORD rop);
EMF_API EMF::INT SetDIBitsToDevice(HDC dc, EMF::INT xDest, EMF::INT yDest, EMF::DWORD w, EMF::DWORD h,
                                   EMF::INT xSrc, EMF::INT ySrc, EMF::UINT startScan, EMF::UINT scanLines,
                                   const void* bits, const void* info, EMF::UINT usage);

// Playback, dumps and SVG.
EMF_API BOOL PlayEnhMetaFile(HDC target, HENHMETAFILE metafile);
EMF_API BOOL EditEnhMetaFile(HENHMETAFILE metafile);
// Writes the metafile as an SVG document to `out` (opened and closed by the caller); 0 when the
// handle is not a metafile.
EMF_API int outputEnhMetaFile(FILE* out, unsigned int handle);
