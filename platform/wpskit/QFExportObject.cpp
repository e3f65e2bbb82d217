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
