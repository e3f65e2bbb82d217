#pragma once
// The page view controller of the PDF-based modules: the page view on the right and a side
// panel that shows either the page thumbnails or the search-result table.
//
// A module may build the controller on a load thread; its widgets are made on the first
// view() / pdfView() call, which must come from the GUI thread. refreshdata() and
// setNeedShow() may be called from any thread: they queue their work on the main queue.

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QFontMetrics>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <unordered_map>

#include "modules/view/PageImageObject.h"
#include "platform/foundation/notification_center.h"
#include "platform/pdfkit/PDFDocument.h"

#include <QListView>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>

namespace pdfkit {
class PDFView;
class PageRenderQueue;
}  // namespace pdfkit

// The context of a match that carries none of its own (a find's matches carry the text
// around them): 160 points to each side of the match, cut off at the page's left edge.
QRectF resetSelectionRect(const QRectF& rect);
// Carriage returns become blanks; "..." follows.
QString resetSelectionString(const QString& text);
// The context column's text for `width` pixels: the match whole where it fits, the text
// before it cut at its start and the text after it cut at its end.
QString elideAroundMatch(const QFontMetrics& metrics, const QString& before, const QString& match, const QString& after,
                         int width);
// Where the thumbnail list scrolls for page `index` of `count`: 0 at the first page, 1 at
// the last; 0 for a document of fewer than two pages.
double thumbnailScrollFraction(qint64 index, qint64 count);

// The thumbnails: one item per page, made on the first request and kept; images rendered off
// the GUI thread on request, within a memory budget.
class ThumbnailModel : public QAbstractListModel {
  Q_OBJECT
 public:
  static constexpr int kThumbnailWidth = 120;
  static constexpr qsizetype kImageBudget = 64 * 1024 * 1024;

  ThumbnailModel(std::function<std::unique_ptr<PageImageObject>()> makeItem, QObject* parent = nullptr);
  ~ThumbnailModel() override;

  void setDocument(pdfkit::PDFDocument* document);
  pdfkit::PDFDocument* document() const { return document_; }
  // Re-reads the page count and drops images of changed rotations.
  void reload();
  // Asks for every shown image again (after rotations).
  void refreshImages();

  // The item for a page index, made once and kept under "%ld" of the index.
  PageImageObject* itemAtIndex(qint64 index);
  const QHash<QString, PageImageObject*>& items() const { return dicView_; }
  qsizetype imageBytes() const { return imageBytes_; }
  // Bytes of images kept at most; the images shown longest ago go first.
  void setImageBudget(qsizetype bytes) { budget_ = bytes; }
  // Renders not finished yet.
  int pendingRenders() const { return pending_.size(); }
  // Drops every image and every render not finished (the list went out of sight).
  void releaseImages();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void getImageByTitle(PageImageObject* item);
  void storeImage(PageImageObject* item, const QImage& image, int rotation);

  std::function<std::unique_ptr<PageImageObject>()> makeItem_;
  pdfkit::PDFDocument* document_ = nullptr;
  std::unique_ptr<pdfkit::PageRenderQueue> queue_;
  quint64 generation_ = 0;
  int count_ = 0;
  std::unordered_map<qint64, std::unique_ptr<PageImageObject>> dic_;
  QHash<QString, PageImageObject*> dicView_;
  QHash<qint64, int> pending_;   // index -> rotation asked for
  QList<qint64> imageOrder_;     // items holding an image, oldest first
  qsizetype imageBytes_ = 0;
  qsizetype budget_ = kImageBudget;
};

// The matches: page label, context, match text.
class SearchResultModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The context column's parts: a QStringList of the text before, the match and the text after.
  static constexpr int ContextPartsRole = Qt::UserRole + 1;
  enum Column { PageColumn, ContextColumn, MatchColumn };
  using QAbstractTableModel::QAbstractTableModel;
  void setResults(const QList<pdfkit::PDFSelection>& results);
  const QList<pdfkit::PDFSelection>& results() const { return results_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QList<pdfkit::PDFSelection> results_;
  mutable QHash<int, QStringList> context_;
  mutable QHash<const pdfkit::PDFPage*, QString> labels_;  // many matches share a page
};

// The context column's cells: the match whole, the text before it cut at its start and the
// text after it cut at its end.
class SearchContextDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  // What the cell of `index` shows in a column `width` pixels wide of `view`.
  static QString shownText(const QModelIndex& index, const QFontMetrics& metrics, int width, const QWidget* view);

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

class DocumentViewController : public std::enable_shared_from_this<DocumentViewController> {
 public:
  using ItemFactory = std::function<std::unique_ptr<PageImageObject>()>;

  DocumentViewController(QString className, ItemFactory makeItem);
  virtual ~DocumentViewController();
  DocumentViewController(const DocumentViewController&) = delete;
  DocumentViewController& operator=(const DocumentViewController&) = delete;

  QString className() const { return className_; }

  // GUI thread: the root view and the page view, made on first use.
  QWidget* view();
  pdfkit::PDFView* pdfView();
  bool isViewLoaded() const { return root_ != nullptr; }

  // Stores the document to show; nothing is redrawn.
  void setPDFDocumentViewData(pdfkit::PDFDocument* document);
  pdfkit::PDFDocument* document() const { return document_; }
  quint64 setPageCount() const;
  // Any thread: queue a reload (selecting thumbnail 0) / a redisplay.
  void refreshdata();
  void setNeedShow();
  // YES hides the whole side panel; NO shows it.
  void ChangeDidView(bool hide);
  bool sidePanelHidden() const { return sideHidden_; }
  // Hides (YES) or shows (NO) the thumbnail list.
  void setPDFBrowser(bool hide);
  // Side panel on the result table / on the thumbnails.
  void setSearchResultViewState();
  void setSearchResultViewHidden();
  bool showsSearchResults() const { return showsSearch_; }
  void setSearchResultViewData(const QList<pdfkit::PDFSelection>& results);
  QList<pdfkit::PDFSelection> searchResultData() const { return searchResultData_; }
  // Row of the result table clicked (-1: none).
  void selectSearchTableIndex(qint64 row);
  // Characters of context the result table makes room for on each side of a match.
  static constexpr int kContextCharacters = 8;
  // Sizes the result table's columns to its width: the page label and the match as their
  // contents, the context the rest. Where that leaves the context too little room for the
  // match and kContextCharacters on each side, the context takes the match column's room too
  // (the match column then lies past the right edge, reached by scrolling).
  void layoutSearchColumns();

  // The side panel's width, kept in the user defaults under this key.
  static constexpr const char* kSidePanelWidthKey = "SidePanelWidth";
  static constexpr int kSidePanelDefaultWidth = ThumbnailModel::kThumbnailWidth + 50;
  static constexpr int kSidePanelMinimumWidth = ThumbnailModel::kThumbnailWidth + 30;
  // The side panel's width as the splitter holds it.
  int sidePanelWidth() const;
  QSplitter* splitter() const { return splitter_; }

  // Widgets, for the module and tests (nullptr before the view is made).
  QListView* thumbnailList() const { return thumbnails_; }
  QTableView* searchTable() const { return table_; }
  QWidget* sidePanel() const;
  ThumbnailModel* thumbnailModel() const { return thumbModel_; }
  SearchResultModel* searchModel() const { return searchModel_; }

  void reloadViewdata();
  void needreshow();

 private:
  void loadView();
  void pageChangeedAction();
  void IKImageChangeedAction();
  void imageBrowserSelectionDidChange();
  void initbrowserselect();

  QString className_;
  ItemFactory makeItem_;
  pdfkit::PDFDocument* document_ = nullptr;
  QList<pdfkit::PDFSelection> searchResultData_;
  bool sideHidden_ = false;
  bool browserHidden_ = false;
  bool showsSearch_ = false;
  bool syncing_ = false;

  QPointer<QWidget> root_;
  QPointer<QSplitter> splitter_;
  QPointer<QStackedWidget> side_;
  QPointer<QListView> thumbnails_;
  QPointer<QTableView> table_;
  QPointer<pdfkit::PDFView> pdfView_;
  QPointer<ThumbnailModel> thumbModel_;
  QPointer<SearchResultModel> searchModel_;
};

// One controller class per format, so every module names its own.
class PDFDocumentView : public DocumentViewController {
 public:
  PDFDocumentView() : DocumentViewController(QStringLiteral("PDFDocumentView"), [] { return std::make_unique<PDFImageObject>(); }) {}
};
class WPSDocumentView : public DocumentViewController {
 public:
  WPSDocumentView() : DocumentViewController(QStringLiteral("WPSDocumentView"), [] { return std::make_unique<WPSImageObject>(); }) {}
};
class WPDDocumentView : public DocumentViewController {
 public:
  WPDDocumentView() : DocumentViewController(QStringLiteral("WPDDocumentView"), [] { return std::make_unique<WPDImageObject>(); }) {}
};
class XPSDocumentView : public DocumentViewController {
 public:
  XPSDocumentView() : DocumentViewController(QStringLiteral("XPSDocumentView"), [] { return std::make_unique<XPSImageObject>(); }) {}
};
class DjVuDocumentView : public DocumentViewController {
 public:
  DjVuDocumentView() : DocumentViewController(QStringLiteral("DjVuDocumentView"), [] { return std::make_unique<DjVuImageObject>(); }) {}
};
class VisioDocumentView : public DocumentViewController {
 public:
  VisioDocumentView() : DocumentViewController(QStringLiteral("VisioDocumentView"), [] { return std::make_unique<VisioImageObject>(); }) {}
};
