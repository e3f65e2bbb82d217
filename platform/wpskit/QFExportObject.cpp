#include "platform/wpskit/QFExportObject.h"

#include <QTextDocument>

QFExportObject::QFExportObject(std::unique_ptr<QTextDocument> storage, const revengekit::PageSetup& page)
    : storage_(std::move(storage)) {
  myDic_.insert(QLatin1String(NSPaperSizeDocumentAttribute), page.paper);
  myDic_.insert(QLatin1String(NSTopMarginDocumentAttribute), page.margins.top());
  myDic_.insert(QLatin1String(NSBottomMarginDocumentAttribute), page.margins.bottom());
  myDic_.insert(QLatin1String(NSLeftMarginDocumentAttribute), page.margins.left());
  myDic_.insert(QLatin1String(NSRightMarginDocumentAttribute), page.margins.right());
}

QFExportObject::~QFExportObject() = default;

revengekit::PrintResult QFExportObject::print(const QString& path, const std::function<bool()>& cancelled) const {
  if (!storage_) return revengekit::PrintResult{false, 0, QStringLiteral("there is no document")};
  const QSizeF paper = myDic_.value(QLatin1String(NSPaperSizeDocumentAttribute)).toSizeF();
  const double top = myDic_.value(QLatin1String(NSTopMarginDocumentAttribute)).toDouble();
  const double bottom = myDic_.value(QLatin1String(NSBottomMarginDocumentAttribute)).toDouble();
  const double left = myDic_.value(QLatin1String(NSLeftMarginDocumentAttribute)).toDouble();
  return revengekit::printRichText(*storage_, paper, QMarginsF(left, top, left, bottom), path, cancelled);
}
