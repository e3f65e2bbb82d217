#pragma once
// Pure rules of the main window, the browser and the tab strip: tab layout, tail truncation,
// window placement, drop filtering and the page title. No widgets; testable headless.

#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// One tab's horizontal slot in the strip.
struct XVTabSlot {
  double x = 0;
  double width = 0;
};

// Lays out `count` tabs in a strip `stripWidth` wide whose add button takes `addWidth`.
// The tabs share the free width equally; when that is below 50 the current tab (index
// `currentIndex`, -1 for none) keeps 50 and the others share the rest. A single tab that
// would be narrower than 50 takes 50; no width is negative.
std::vector<XVTabSlot> XVTabLayout(int count, double stripWidth, double addWidth, int currentIndex);

// The text a field `available` wide shows for `text`: the text whole when it fits, else the
// longest prefix (whole characters) followed by "..." that fits, else "...".
QString XVTailTruncate(const QString& text, double available, const std::function<double(const QString&)>& widthOf);

// The top-left corner of a window's client area of `size` centred on `mid`, kept inside
// `available` together with the window's `frame` (title bar and borders around the client
// area): horizontally the left edge wins, vertically the top edge wins (y grows downwards).
QPointF XVWindowStandPoint(const QSizeF& size, const QPointF& mid, const QRectF& available,
                           const QMarginsF& frame = QMarginsF());

// The size at progress p (0 to 1) of a resize from `start` to `target`.
QSizeF XVInterpolateSize(const QSizeF& start, const QSizeF& target, double p);

// The paths among `paths` whose extension is supported, in their order.
QStringList XVSupportedFilePaths(const QStringList& paths);
// The others, in their order: the paths that are not opened for their extension.
QStringList XVUnsupportedFilePaths(const QStringList& paths);
// The drag operation for a drag of `paths`: 1 (copy) when one of them is supported, else 0.
int XVDragOperationForPaths(const QStringList& paths);

// "%@ (%ld/%ld)" with the product name, the page number and the page count.
QString XVPageWindowTitle(const QString& appName, qint64 page, qint64 count);
