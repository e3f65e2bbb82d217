#include "shell/XVShellLogic.h"

#include <QFileInfo>
#include <QTextBoundaryFinder>

#include <algorithm>

#include "core/XVBaseFunction.h"

namespace {
constexpr double kMinTabWidth = 50.0;
}  // namespace

std::vector<XVTabSlot> XVTabLayout(int count, double stripWidth, double addWidth, int currentIndex) {
  std::vector<XVTabSlot> frames;
  if (count <= 0) return frames;
  const double free = stripWidth - addWidth;
  double w = free / count;
  bool compressed = false;
  if (w < kMinTabWidth) {
    compressed = true;
    w = count > 1 ? (free - kMinTabWidth) / (count - 1) : kMinTabWidth;
  }
  w = std::max(0.0, w);
  double x = 0;
  frames.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double width = (compressed && (i == currentIndex || count == 1)) ? kMinTabWidth : w;
    frames.push_back({x, width});
    x += width;
  }
  return frames;
}

QString XVTailTruncate(const QString& text, double available, const std::function<double(const QString&)>& widthOf) {
  if (text.isEmpty()) return QString();
  if (widthOf(text) <= available) return text;
  const QString dots = QStringLiteral("...");
  // Character boundaries (grapheme clusters), so no pair or combining sequence is split.
  std::vector<int> bounds;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  for (qsizetype p = finder.toNextBoundary(); p > 0; p = finder.toNextBoundary()) bounds.push_back(static_cast<int>(p));
  // bounds.back() == text.size(); bounds[k] is the end of the (k+1)th character.
  const int characters = static_cast<int>(bounds.size());
  for (int n = 1; n < characters; ++n) {
    const QString candidate = text.left(bounds[static_cast<size_t>(characters - n - 1)]) + dots;
    if (widthOf(candidate) <= available) return candidate;
  }
  return dots;
}

QPointF XVWindowStandPoint(const QSizeF& size, const QPointF& mid, const QRectF& availableArea,
                           const QMarginsF& frame) {
  const QRectF available = availableArea.marginsRemoved(frame);
  double x = mid.x() - size.width() / 2.0;
  if (x + size.width() > available.right()) x = available.right() - size.width();
  if (x < available.left()) x = available.left();
  double y = mid.y() - size.height() / 2.0;
  if (y + size.height() > available.bottom()) y = available.bottom() - size.height();
  if (y < available.top()) y = available.top();
  return {x, y};
}

QSizeF XVInterpolateSize(const QSizeF& start, const QSizeF& target, double p) {
  return {start.width() + p * (target.width() - start.width()), start.height() + p * (target.height() - start.height())};
}

QStringList XVSupportedFilePaths(const QStringList& paths) {
  QStringList out;
  for (const QString& path : paths) {
    if (!path.isEmpty() && XVBaseFunction::xpsFileExtensionIsSupport(XVBaseFunction::extensionOfPath(path)))
      out.append(path);
  }
  return out;
}

QStringList XVUnsupportedFilePaths(const QStringList& paths) {
  QStringList out;
  for (const QString& path : paths) {
    if (!path.isEmpty() && !XVBaseFunction::xpsFileExtensionIsSupport(XVBaseFunction::extensionOfPath(path)))
      out.append(path);
  }
  return out;
}

int XVDragOperationForPaths(const QStringList& paths) { return XVSupportedFilePaths(paths).isEmpty() ? 0 : 1; }

QString XVPageWindowTitle(const QString& appName, qint64 page, qint64 count) {
  return QStringLiteral("%1 (%2/%3)").arg(appName).arg(page).arg(count);
}
