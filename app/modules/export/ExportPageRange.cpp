#include "modules/export/ExportPageRange.h"

ExportPageRange::Pages ExportPageRange::savePages(int mode, qint64 startField, qint64 endField, qint64 countpage) {
  switch (mode) {
    case CurrentPage: return {startField - 1, startField - 1};
    case PageRange: return {startField - 1, endField - 1};
    default: return {0, countpage - 1};
  }
}

bool ExportPageRange::startCanSet(qint64 v, int mode, qint64 endField, qint64 countpage) {
  if (v < 1 || v > countpage) return false;
  return mode != PageRange || v <= endField;
}

bool ExportPageRange::endCanSet(qint64 v, int mode, qint64 startField, qint64 countpage) {
  if (v < 1 || v > countpage) return false;
  return mode != PageRange || v >= startField;
}

bool ExportPageRange::isDigits(const QString& text) {
  for (const QChar c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

ExportPageRange::Check ExportPageRange::check(int mode, const QString& startText, const QString& endText, qint64 countpage) {
  Check c{false, startText, endText};
  if (countpage < 1) return c;
  if (mode == AllPages) {
    c.ok = true;
    return c;
  }
  auto value = [](const QString& text, bool* ok) {
    *ok = !text.isEmpty() && isDigits(text) && text.size() <= 18;
    return *ok ? text.toLongLong() : 0;
  };
  bool startOk = false;
  bool endOk = mode != PageRange;
  const qint64 start = value(startText, &startOk);
  const qint64 end = mode == PageRange ? value(endText, &endOk) : start;
  bool ok = startOk && endOk;
  if (startOk && start > countpage) {
    c.startText = QStringLiteral("1");
    ok = false;
  }
  if (mode == PageRange && endOk && end > countpage) {
    c.endText = QString::number(countpage);
    ok = false;
  }
  c.ok = ok && start >= 1 && end >= start;
  return c;
}
