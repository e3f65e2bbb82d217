#include "modules/view/DocumentViewController.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QItemSelectionModel>
#include <QListView>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableView>
#include <QThread>

#include <algorithm>

#include "platform/foundation/dispatcher.h"
#include "platform/pdfkit/PDFView.h"
#include "platform/pdfkit/PageRenderQueue.h"
#include "core/XVBaseFunction.h"
#include "core/XVNotifications.h"

QRectF resetSelectionRect(const QRectF& r) {
  if (r.x() < 160) return QRectF(0, r.y(), r.x() + r.width() + 160, r.height());
  return QRectF(r.x() - 160, r.y(), r.width() + 320, r.height());
}

QString resetSelectionString(const QString& text) {
  QString s = text;
  s.replace(QLatin1Char('\r'), QLatin1Char(' '));
  return s + QStringLiteral("...");
}

QString elideAroundMatch(const QFontMetrics& fm, const QString& before, const QString& match, const QString& after,
                         int width) {
  const QString whole = before + match + after;
  if (fm.horizontalAdvance(whole) <= width) return whole;
  const int room = width - fm.horizontalAdvance(match);
  if (room <= fm.horizontalAdvance(QChar(0x2026))) return fm.elidedText(match, Qt::ElideRight, width);
  // Half the room on each side; a side that needs less leaves the rest to the other.
  int left = room / 2, right = room - left;
  const int beforeWidth = fm.horizontalAdvance(before), afterWidth = fm.horizontalAdvance(after);
  if (beforeWidth < left) {
    right += left - beforeWidth;
    left = beforeWidth;
  } else if (afterWidth < right) {
    left += right - afterWidth;
    right = afterWidth;
  }
  const QString l = beforeWidth <= left ? before : fm.elidedText(before, Qt::ElideLeft, left);
  const QString r = afterWidth <= right ? after : fm.elidedText(after, Qt::ElideRight, right);
  return l + match + r;
}

double thumbnailScrollFraction(qint64 index, qint64 count) {
  if (count < 2) return 0.0;
  return std::clamp(static_cast<double>(static_cast<float>(index) / static_cast<float>(count - 1)), 0.0, 1.0);
}

namespace {
// Rows of the result table whose contents size its columns.
constexpr int kMeasuredRows = 100;

bool onGuiThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// The result table; a click below the last row reports row -1.
class SearchTableView : public QTableView {
 public:
  std::function<void()> clickedOutsideRows;
  std::function<void()> resized;  // the viewport's size changed

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QTableView::resizeEvent(event);
    if (resized) resized();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const bool outside = !indexAt(event->position().toPoint()).isValid();
    QTableView::mouseReleaseEvent(event);
    if (outside && event->button() == Qt::LeftButton) {
      clearSelection();
      if (clickedOutsideRows) clickedOutsideRows();
    }
  }
};

// The thumbnail list; out of sight (another tab, or the search results shown) it keeps no images.
class ThumbnailListView : public QListView {
 public:
  using QListView::QListView;

 protected:
  void hideEvent(QHideEvent* event) override {
    QListView::hideEvent(event);
    if (auto* m = qobject_cast<ThumbnailModel*>(model())) m->releaseImages();
  }
};
}  // namespace

// ---- ThumbnailModel ---------------------------------------------------------------------

ThumbnailModel::ThumbnailModel(std::function<std::unique_ptr<PageImageObject>()> makeItem, QObject* parent)
    : QAbstractListModel(parent), makeItem_(std::move(makeItem)) {}

ThumbnailModel::~ThumbnailModel() { queue_.reset(); }

void ThumbnailModel::setDocument(pdfkit::PDFDocument* document) {
  if (document != document_) {
    queue_.reset();
    ++generation_;
    pending_.clear();
    for (auto& [index, item] : dic_) {
      item->setImage(QImage());
      item->imageRotation = -1;
    }
    imageOrder_.clear();
    imageBytes_ = 0;
    document_ = document;
    if (document_ && !document_->documentPath().isEmpty())
      queue_ = std::make_unique<pdfkit::PageRenderQueue>(document_->contentPath());
  }
  reload();
}

void ThumbnailModel::releaseImages() {
  if (queue_) queue_->clear();
  ++generation_;  // renders in flight are dropped when they arrive
  pending_.clear();
  for (const qint64 i : std::as_const(imageOrder_)) {
    PageImageObject* item = itemAtIndex(i);
    item->setImage(QImage());
    item->imageRotation = -1;
  }
  imageOrder_.clear();
  imageBytes_ = 0;
}

void ThumbnailModel::reload() {
  beginResetModel();
  count_ = document_ ? document_->pageCount() : 0;
  endResetModel();
}

void ThumbnailModel::refreshImages() {
  const int n = document_ ? document_->pageCount() : 0;
  if (n != count_) {
    reload();
    return;
  }
  if (n > 0) emit dataChanged(index(0), index(n - 1), {Qt::DecorationRole});
}

PageImageObject* ThumbnailModel::itemAtIndex(qint64 i) {
  auto it = dic_.find(i);
  if (it != dic_.end()) return it->second.get();
  auto item = makeItem_();
  item->setImageAction([this](PageImageObject* o) { getImageByTitle(o); });
  item->setTitle(QString::number(static_cast<quint64>(i + 1)));
  PageImageObject* raw = item.get();
  dic_.emplace(i, std::move(item));
  dicView_.insert(QString::number(i), raw);
  return raw;
}

int ThumbnailModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_) return QVariant();
  auto* self = const_cast<ThumbnailModel*>(this);
  PageImageObject* item = self->itemAtIndex(index.row());
  if (role == Qt::DisplayRole) return item->imageTitle();
  if (role == Qt::DecorationRole) {
    QImage image = item->imageRepresentation();
    if (image.isNull() && document_) {
      // A blank sheet of the page's shape until its render arrives.
      const pdfkit::PDFPage* page = document_->pageAtIndex(item->pageIndex());
      const QSizeF s = page ? page->displaySize() : QSizeF();
      const int h = s.width() > 0 ? std::clamp(static_cast<int>(kThumbnailWidth * s.height() / s.width()), 8, 4 * kThumbnailWidth)
                                  : kThumbnailWidth;
      image = QImage(kThumbnailWidth, h, QImage::Format_RGB32);
      image.fill(Qt::white);
    }
    return image;
  }
  return QVariant();
}

void ThumbnailModel::getImageByTitle(PageImageObject* item) {
  const qint64 i = item->pageIndex();
  if (!document_ || !queue_ || i < 0 || i >= document_->pageCount()) return;
  const int rotation = document_->userRotation(static_cast<int>(i));
  if (!item->image().isNull() && item->imageRotation == rotation) return;
  auto p = pending_.constFind(i);
  if (p != pending_.constEnd() && *p == rotation) return;
  if (pending_.size() > 64) {
    // Far behind the list: what was asked for long ago has scrolled away.
    queue_->clear();
    pending_.clear();
  }
  pending_.insert(i, rotation);
  const quint64 generation = generation_;
  ThumbnailModel* model = this;
  queue_->request(static_cast<int>(i), 0, rotation, [model, generation, i, rotation](QImage image) {
    QMetaObject::invokeMethod(model, [model, generation, i, rotation, image = std::move(image)] {
      if (generation != model->generation_) return;
      auto p = model->pending_.constFind(i);
      if (p != model->pending_.constEnd() && *p == rotation) model->pending_.remove(i);
      if (image.isNull()) return;
      model->storeImage(model->itemAtIndex(i), image, rotation);
      if (i < model->count_) emit model->dataChanged(model->index(static_cast<int>(i)), model->index(static_cast<int>(i)), {Qt::DecorationRole});
    }, Qt::QueuedConnection);
  }, kThumbnailWidth);
}

void ThumbnailModel::storeImage(PageImageObject* item, const QImage& image, int rotation) {
  const qint64 i = item->pageIndex();
  if (!item->image().isNull()) {
    imageBytes_ -= item->image().sizeInBytes();
    imageOrder_.removeOne(i);
  }
  item->setImage(image);
  item->imageRotation = rotation;
  imageBytes_ += image.sizeInBytes();
  imageOrder_.append(i);
  while (imageBytes_ > budget_ && imageOrder_.size() > 1) {
    const qint64 old = imageOrder_.takeFirst();
    PageImageObject* o = itemAtIndex(old);
    imageBytes_ -= o->image().sizeInBytes();
    o->setImage(QImage());
    o->imageRotation = -1;
  }
}

// ---- SearchResultModel ------------------------------------------------------------------

void SearchResultModel::setResults(const QList<pdfkit::PDFSelection>& results) {
  beginResetModel();
  results_ = results;
  context_.clear();
  labels_.clear();
  endResetModel();
}

int SearchResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(results_.size());
}

int SearchResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant SearchResultModel::data(const QModelIndex& index, int role) const {
  if ((role != Qt::DisplayRole && role != Qt::ToolTipRole && role != ContextPartsRole) || !index.isValid() ||
      index.row() >= results_.size())
    return QVariant();
  const pdfkit::PDFSelection& s = results_[index.row()];
  if (s.isNull()) return QVariant();
  if (role != Qt::DisplayRole && index.column() != ContextColumn) return QVariant();
  switch (index.column()) {
    case PageColumn: {
      auto label = labels_.constFind(s.page());
      if (label == labels_.constEnd()) label = labels_.insert(s.page(), s.page()->label());
      return *label;
    }
    case ContextColumn: {
      auto it = context_.constFind(index.row());
      if (it == context_.constEnd()) {
        QStringList parts;
        if (!s.contextBefore().isEmpty() || !s.contextAfter().isEmpty()) {
          // The find's own text around the match.
          parts << s.contextBefore() << s.string() << s.contextAfter();
        } else {
          parts << QString() << QString()
                << resetSelectionString(s.page()->selectionForRect(resetSelectionRect(s.boundsForPage(s.page()))).string());
        }
        it = context_.insert(index.row(), parts);
      }
      if (role == ContextPartsRole) return *it;
      return it->join(QString());
    }
    default: return s.string();
  }
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  switch (section) {
    case PageColumn: return QObject::tr("Page");
    case ContextColumn: return QObject::tr("Context");
    default: return QObject::tr("Match");
  }
}

// ---- SearchContextDelegate --------------------------------------------------------------

namespace {
int cellMargin(const QWidget* view) {
  return view ? view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1 : 4;
}
}  // namespace

QString SearchContextDelegate::shownText(const QModelIndex& index, const QFontMetrics& metrics, int width,
                                         const QWidget* view) {
  const QStringList parts = index.data(SearchResultModel::ContextPartsRole).toStringList();
  if (parts.size() != 3) return index.data(Qt::DisplayRole).toString();
  return elideAroundMatch(metrics, parts[0], parts[1], parts[2], width - 2 * cellMargin(view));
}

void SearchContextDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (index.data(SearchResultModel::ContextPartsRole).toStringList().size() != 3) return;
  option->text = shownText(index, option->fontMetrics, option->rect.width(), option->widget);
  option->textElideMode = Qt::ElideNone;
}

// ---- DocumentViewController -------------------------------------------------------------

DocumentViewController::DocumentViewController(QString className, ItemFactory makeItem)
    : className_(std::move(className)), makeItem_(std::move(makeItem)) {}

DocumentViewController::~DocumentViewController() {
  if (!root_) return;
  if (onGuiThread()) {
    delete root_.data();
  } else {
    root_->deleteLater();
  }
}

QWidget* DocumentViewController::view() {
  if (!root_ && onGuiThread()) loadView();
  return root_;
}

pdfkit::PDFView* DocumentViewController::pdfView() {
  view();
  return pdfView_;
}

QWidget* DocumentViewController::sidePanel() const { return side_; }

int DocumentViewController::sidePanelWidth() const {
  if (!splitter_ || !side_) return 0;
  return splitter_->sizes().value(0);
}

void DocumentViewController::loadView() {
  auto* root = new QWidget();
  root->setObjectName(className_);
  auto* layout = new QHBoxLayout(root);
  layout->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Horizontal, root);
  splitter_->setChildrenCollapsible(false);
  splitter_->setHandleWidth(7);
  layout->addWidget(splitter_);

  side_ = new QStackedWidget();
  side_->setMinimumWidth(kSidePanelMinimumWidth);
  thumbModel_ = new ThumbnailModel(makeItem_, root);
  thumbnails_ = new ThumbnailListView();
  thumbnails_->setViewMode(QListView::IconMode);
  thumbnails_->setFlow(QListView::TopToBottom);
  thumbnails_->setWrapping(false);
  thumbnails_->setMovement(QListView::Static);
  thumbnails_->setResizeMode(QListView::Adjust);
  thumbnails_->setUniformItemSizes(true);
  thumbnails_->setIconSize(QSize(ThumbnailModel::kThumbnailWidth, ThumbnailModel::kThumbnailWidth * 3 / 2));
  thumbnails_->setSpacing(6);
  thumbnails_->setSelectionMode(QAbstractItemView::SingleSelection);
  thumbnails_->setModel(thumbModel_);
  searchModel_ = new SearchResultModel(root);
  auto* table = new SearchTableView();
  table->clickedOutsideRows = [this] { selectSearchTableIndex(-1); };
  table->resized = [this] { layoutSearchColumns(); };
  table_ = table;
  table_->setModel(searchModel_);
  table_->setItemDelegateForColumn(SearchResultModel::ContextColumn, new SearchContextDelegate(table_));
  table_->setWordWrap(false);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  table_->verticalHeader()->hide();
  // Widths set by layoutSearchColumns(); the contents of the first rows measure the columns.
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  table_->horizontalHeader()->setResizeContentsPrecision(kMeasuredRows);
  table_->verticalHeader()->setResizeContentsPrecision(kMeasuredRows);
  side_->addWidget(thumbnails_);
  side_->addWidget(table_);

  pdfView_ = new pdfkit::PDFView();
  splitter_->addWidget(side_);
  splitter_->addWidget(pdfView_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  {
    const auto defaults = XVBaseFunction::userDefaults();
    const int width = defaults->value(QLatin1String(kSidePanelWidthKey), kSidePanelDefaultWidth).toInt();
    splitter_->setSizes({std::max(width, kSidePanelMinimumWidth), 10000});
  }
  root_ = root;

  QObject::connect(splitter_.data(), &QSplitter::splitterMoved, root, [this] {
    const int width = sidePanelWidth();
    if (width <= 0) return;
    XVBaseFunction::userDefaults()->setValue(QLatin1String(kSidePanelWidthKey), width);
  });

  QObject::connect(pdfView_.data(), &pdfkit::PDFView::pageChanged, root, [this] { pageChangeedAction(); });
  QObject::connect(thumbnails_->selectionModel(), &QItemSelectionModel::selectionChanged, root,
                   [this] { imageBrowserSelectionDidChange(); });
  QObject::connect(table_.data(), &QTableView::clicked, root, [this](const QModelIndex& index) {
    selectSearchTableIndex(index.isValid() ? index.row() : -1);
  });

  searchModel_->setResults(searchResultData_);
  side_->setCurrentWidget(showsSearch_ ? static_cast<QWidget*>(table_) : thumbnails_);
  side_->setVisible(!sideHidden_);
  thumbnails_->setVisible(!browserHidden_);
  if (document_) {
    thumbModel_->setDocument(document_);
    pdfView_->setDocument(document_);
  }
}

void DocumentViewController::setPDFDocumentViewData(pdfkit::PDFDocument* document) { document_ = document; }

quint64 DocumentViewController::setPageCount() const {
  return document_ ? static_cast<quint64>(document_->pageCount()) : 0;
}

void DocumentViewController::refreshdata() {
  std::weak_ptr<DocumentViewController> weak = weak_from_this();
  foundation::Dispatcher::postMain([weak] {
    if (auto self = weak.lock()) self->reloadViewdata();
  });
}

void DocumentViewController::setNeedShow() {
  std::weak_ptr<DocumentViewController> weak = weak_from_this();
  foundation::Dispatcher::postMain([weak] {
    if (auto self = weak.lock()) self->needreshow();
  });
}

void DocumentViewController::reloadViewdata() {
  if (!root_) return;
  pdfView_->setDocument(document_);
  thumbModel_->setDocument(document_);
  initbrowserselect();
}

void DocumentViewController::needreshow() {
  if (!root_) return;
  pdfView_->setDocument(document_);
  if (thumbModel_->document() != document_) {
    thumbModel_->setDocument(document_);
  } else {
    thumbModel_->refreshImages();
  }
}

void DocumentViewController::initbrowserselect() {
  if (!thumbnails_ || thumbModel_->rowCount() == 0) return;
  thumbnails_->selectionModel()->select(thumbModel_->index(0), QItemSelectionModel::ClearAndSelect);
}

void DocumentViewController::ChangeDidView(bool hide) {
  sideHidden_ = hide;
  if (side_) side_->setVisible(!hide);
}

void DocumentViewController::setPDFBrowser(bool hide) {
  browserHidden_ = hide;
  if (thumbnails_) thumbnails_->setVisible(!hide);
}

void DocumentViewController::setSearchResultViewState() {
  showsSearch_ = true;
  if (side_) side_->setCurrentWidget(table_);
}

void DocumentViewController::setSearchResultViewHidden() {
  showsSearch_ = false;
  if (side_) side_->setCurrentWidget(thumbnails_);
}

void DocumentViewController::setSearchResultViewData(const QList<pdfkit::PDFSelection>& results) {
  searchResultData_ = results;
  if (searchModel_) searchModel_->setResults(results);
  layoutSearchColumns();
}

void DocumentViewController::layoutSearchColumns() {
  if (!table_) return;
  QHeaderView* header = table_->horizontalHeader();
  const int room = table_->viewport()->width();
  const QAbstractItemView* view = table_;  // QTableView hides sizeHintForColumn()
  const auto contents = [&](int column) { return std::max(header->sectionSizeHint(column), view->sizeHintForColumn(column)); };
  const int page = contents(SearchResultModel::PageColumn);
  const int match = contents(SearchResultModel::MatchColumn);
  // The widest of the first matches, with kContextCharacters on each side and the cell's margins.
  const QFontMetrics metrics = table_->fontMetrics();
  int widest = 0;
  for (int row = 0; row < std::min(searchModel_->rowCount(), kMeasuredRows); ++row)
    widest = std::max(widest, metrics.horizontalAdvance(searchModel_->results()[row].string()));
  const int wanted = std::max(header->sectionSizeHint(SearchResultModel::ContextColumn),
                              widest + 2 * (kContextCharacters * metrics.averageCharWidth() +
                                            metrics.horizontalAdvance(QChar(0x2026)) + cellMargin(table_)));
  const int beside = room - page - match;
  const int context = beside >= wanted ? beside : std::max(room - page, header->sectionSizeHint(SearchResultModel::ContextColumn));
  header->resizeSection(SearchResultModel::PageColumn, page);
  header->resizeSection(SearchResultModel::ContextColumn, context);
  header->resizeSection(SearchResultModel::MatchColumn, match);
}

void DocumentViewController::selectSearchTableIndex(qint64 row) {
  if (!pdfView_) return;
  if (row >= 0 && row < searchResultData_.size()) {
    const pdfkit::PDFSelection& s = searchResultData_[row];
    pdfView_->goToSelection(s);
    pdfView_->setCurrentSelection(s, true);
  } else {
    pdfView_->setCurrentSelection(pdfkit::PDFSelection());
  }
}

void DocumentViewController::pageChangeedAction() {
  IKImageChangeedAction();
  foundation::NotificationCenter::defaultCenter().post(ChangePageForTitleNotification);
}

void DocumentViewController::IKImageChangeedAction() {
  if (!document_ || !pdfView_ || !thumbnails_) return;
  const int i = document_->indexForPage(pdfView_->currentPage());
  if (i < 0 || i >= thumbModel_->rowCount()) return;
  syncing_ = true;
  thumbnails_->selectionModel()->select(thumbModel_->index(i), QItemSelectionModel::ClearAndSelect);
  syncing_ = false;
  const double f = thumbnailScrollFraction(i, document_->pageCount());
  QScrollBar* v = thumbnails_->verticalScrollBar();
  v->setValue(static_cast<int>(f * v->maximum() + 0.5));
  QScrollBar* h = thumbnails_->horizontalScrollBar();
  h->setValue(h->maximum() / 2);
}

void DocumentViewController::imageBrowserSelectionDidChange() {
  if (syncing_ || !document_ || !pdfView_) return;
  const QModelIndexList rows = thumbnails_->selectionModel()->selectedIndexes();
  if (rows.isEmpty()) return;
  const int i = rows.first().row();
  if (i < document_->pageCount()) pdfView_->goToPage(document_->pageAtIndex(i));
}
