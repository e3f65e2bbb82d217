#include "modules/winmail/WinmailDocumentView.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QTableView>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <set>

#include "core/XVErrorTexts.h"

#include "modules/rtf/RTFReader.h"
#include "modules/rtf/RTFTextDocument.h"
#include "modules/winmail/AttachmentOpener.h"
#include "shell/XVAlertText.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"

namespace {

const char* const kCategory = "winmail";

void logLine(foundation::LogLevel level, const QString& message) {
  foundation::log(level, kCategory, message.toStdString());
}

QString frameText(const QRect& r) {
  return QString::asprintf("%lf,%lf,%lf,%lf", double(r.x()), double(r.y()), double(r.width()), double(r.height()));
}

QFont bodyFont() {
  QFont font = QApplication::font();
  font.setPointSize(WinmailDocumentView::kBodyPointSize);
  return font;
}

// Text files: UTF-8 when the bytes are UTF-8, else Windows-1252.
QString decodeText(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  return rtf::RTFReader::decodeCodePage(bytes, 1252);
}

// HTML files: the charset the page declares when Qt knows it, else as text.
QString decodeHtml(const QByteArray& bytes) {
  QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
  if (decoder.isValid()) {
    QString text = decoder(bytes);
    if (!decoder.hasError()) return text;
  }
  return decodeText(bytes);
}

// The bytes of a regular file of at most `cap` bytes, opened without following a link and
// without waiting on a FIFO or a device; nothing for any other file.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 cap) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > cap) {
    ::close(fd);
    return std::nullopt;
  }
  QByteArray bytes(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
  qsizetype got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  ::close(fd);
  bytes.truncate(got);
  return bytes;
}

QImage blankImage() {
  QImage blank(1, 1, QImage::Format_ARGB32);
  blank.fill(Qt::transparent);
  return blank;
}

bool readFile(const QString& path, QByteArray* bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  *bytes = file.readAll();
  return file.error() == QFileDevice::NoError;
}

}  // namespace

// ---- attachment model ---------------------------------------------------------------------

void WinmailAttachmentModel::setFolder(const QString& folder) {
  beginResetModel();
  folder_ = folder;
  items_.clear();
  infos_.clear();
  icons_.clear();
  if (!folder.isEmpty()) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : entries) {
      if (info.fileName() == QLatin1String(".DS_Store")) continue;
      items_.append(WinmailImageObject(info.absoluteFilePath()));
      infos_.append(info);
    }
  }
  endResetModel();
}

QString WinmailAttachmentModel::filePath(int row) const {
  return row >= 0 && row < items_.size() ? items_[row].imageUID() : QString();
}

int WinmailAttachmentModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

int WinmailAttachmentModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant WinmailAttachmentModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= infos_.size()) return {};
  const QFileInfo& info = infos_[index.row()];
  switch (index.column()) {
    case Name:
      if (role == Qt::DisplayRole) return items_[index.row()].imageTitle();
      if (role == Qt::ToolTipRole) return info.absoluteFilePath();
      if (role == Qt::DecorationRole) return iconFor(index.row());
      return {};
    case Date:
      // The module dates each file as the container dates its attachment.
      if (role == Qt::DisplayRole) return info.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
      return {};
    case Size:
      if (role == Qt::DisplayRole) return WinmailDocumentView::fileSizeUnti(static_cast<float>(info.size()));
      if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default: return {};
  }
}

QIcon WinmailAttachmentModel::iconFor(int row) const {
  const QFileInfo& info = infos_[row];
  const QString path = info.absoluteFilePath();
  const auto cached = icons_.constFind(path);
  if (cached != icons_.constEnd()) return *cached;
  const QMimeType mime = QMimeDatabase().mimeTypeForFile(info);
  const QIcon icon =
      QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName(), QFileIconProvider().icon(info)));
  if (mime.name().startsWith(QLatin1String("image/"))) {
    requestThumbnail(path);
    return icon;  // until the thumbnail is there
  }
  icons_.insert(path, icon);
  return icon;
}

void WinmailAttachmentModel::requestThumbnail(const QString& path) const {
  if (pending_.contains(path)) return;
  pending_.insert(path);
  // Read on a background thread; a model that goes first never hears of the result.
  QPointer<WinmailAttachmentModel> model(const_cast<WinmailAttachmentModel*>(this));
  foundation::Dispatcher::postBackground([model, path] {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // Large images are decoded straight at the thumbnail size.
    if (size.isValid() && (size.width() > kThumbnailSize || size.height() > kThumbnailSize)) {
      reader.setScaledSize(size.scaled(kThumbnailSize, kThumbnailSize, Qt::KeepAspectRatio));
    }
    const QImage image = reader.read();
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(app, [model, path, image] {
        if (model) model->thumbnailRead(path, image);
      }, Qt::QueuedConnection);
    }
  });
}

void WinmailAttachmentModel::thumbnailRead(const QString& path, const QImage& image) {
  pending_.remove(path);
  // A failed read keeps the type's icon.
  const QMimeType mime = QMimeDatabase().mimeTypeForFile(path);
  icons_.insert(path, image.isNull() ? QIcon::fromTheme(mime.iconName(), QFileIconProvider().icon(QFileInfo(path)))
                                     : QIcon(QPixmap::fromImage(image)));
  for (int row = 0; row < items_.size(); ++row) {
    if (items_[row].imageUID() == path) emit dataChanged(index(row, Name), index(row, Name), {Qt::DecorationRole});
  }
}

QVariant WinmailAttachmentModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case Name: return QStringLiteral("Name");
    case Date: return QStringLiteral("Date");
    case Size: return QStringLiteral("Size");
    default: return {};
  }
}

Qt::ItemFlags WinmailAttachmentModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList WinmailAttachmentModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* WinmailAttachmentModel::mimeData(const QModelIndexList& indexes) const {
  std::set<int> rows;
  for (const QModelIndex& index : indexes) {
    if (index.isValid() && index.row() < items_.size()) rows.insert(index.row());
  }
  if (rows.empty()) return nullptr;
  QList<QUrl> urls;
  for (int row : rows) urls.append(QUrl::fromLocalFile(items_[row].imageUID()));
  auto* mime = new QMimeData;
  mime->setUrls(urls);
  return mime;
}

// ---- HTML view ----------------------------------------------------------------------------

WinmailHtmlView::WinmailHtmlView(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setReadOnly(true);
}

void WinmailHtmlView::setAllowedFolder(const QString& folder) { allowedFolder_ = folder; }

QString WinmailHtmlView::allowedFile(const QUrl& name) const {
  if (allowedFolder_.isEmpty()) return QString();
  QUrl url = name;
  if (url.isRelative()) url = QUrl::fromLocalFile(allowedFolder_ + QLatin1Char('/')).resolved(name);
  if (!url.isLocalFile()) return QString();  // no network, no other scheme
  // Links are followed here, so a link that leads out of the folder is refused with the rest.
  const QString root = QFileInfo(allowedFolder_).canonicalFilePath();
  const QString file = QFileInfo(url.toLocalFile()).canonicalFilePath();
  if (root.isEmpty() || file.isEmpty() || !file.startsWith(root + QLatin1Char('/'))) return QString();
  return file;
}

QVariant WinmailHtmlView::loadResource(int type, const QUrl& name) {
  // Every answer is a value: a null one would have the document open the file itself.
  const QString file = allowedFile(name);
  const std::optional<QByteArray> bytes = file.isEmpty() ? std::nullopt : readRegularFile(file, kMaxResourceBytes);
  if (type == QTextDocument::ImageResource) {
    // Decoded here: an image the document cannot decode would be looked for by its name.
    QImage image;
    if (bytes) {
      QBuffer buffer;
      buffer.setData(*bytes);
      QImageReader reader(&buffer);
      image = reader.read();
    }
    return image.isNull() ? blankImage() : image;  // a refused image is drawn as nothing
  }
  if (!bytes) return QVariant(QString::fromLatin1(""));
  if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource) return decodeHtml(*bytes);
  return *bytes;
}

// ---- view ---------------------------------------------------------------------------------

WinmailDocumentView::WinmailDocumentView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("WinmailDocumentView"));
  model_ = new WinmailAttachmentModel(this);

  bodyStack_ = new QWidget(this);
  auto* bodyLayout = new QVBoxLayout(bodyStack_);
  bodyLayout->setContentsMargins(0, 0, 0, 0);
  winmailTextView_ = new QTextEdit(bodyStack_);
  winmailTextView_->setReadOnly(true);
  winmailTextView_->document()->setDefaultFont(bodyFont());
  WinmailWebView_ = new WinmailHtmlView(bodyStack_);
  bodyLayout->addWidget(winmailTextView_);
  bodyLayout->addWidget(WinmailWebView_);
  WinmailWebView_->hide();

  WinmailScroll_ = new QWidget(this);
  WinmailScroll_->setObjectName(QStringLiteral("attachmentArea"));
  WinmailScroll_->setAutoFillBackground(true);
  auto* areaLayout = new QVBoxLayout(WinmailScroll_);
  areaLayout->setContentsMargins(0, 0, 0, 0);
  areaLayout->setSpacing(0);
  auto* header = new QWidget(WinmailScroll_);
  header->setFixedHeight(kCollapsedStrip);
  auto* headerLayout = new QHBoxLayout(header);
  headerLayout->setContentsMargins(4, 0, 4, 0);
  headerLayout->addWidget(new QLabel(QStringLiteral("Attachments"), header));
  headerLayout->addStretch(1);
  m_btnicon_ = new QToolButton(header);
  m_btnicon_->setIcon(style()->standardIcon(QStyle::SP_FileDialogListView));
  m_btnicon_->setToolTip(QStringLiteral("Icons"));
  m_btnicon_->setEnabled(true);
  m_btntable_ = new QToolButton(header);
  m_btntable_->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  m_btntable_->setToolTip(QStringLiteral("Table"));
  m_btnstate_ = new QToolButton(header);
  m_btnstate_->setArrowType(Qt::DownArrow);
  m_btnstate_->setToolTip(QStringLiteral("Hide or show the attachments"));
  for (QToolButton* b : {m_btnicon_, m_btntable_, m_btnstate_}) {
    b->setAutoRaise(true);
    b->setFixedSize(kCollapsedStrip - 2, kCollapsedStrip - 2);
    headerLayout->addWidget(b);
  }
  areaLayout->addWidget(header);

  presentations_ = new QStackedWidget(WinmailScroll_);
  winmailBrowser_ = new QListView(presentations_);
  winmailBrowser_->setViewMode(QListView::IconMode);
  winmailBrowser_->setMovement(QListView::Static);
  winmailBrowser_->setResizeMode(QListView::Adjust);
  winmailBrowser_->setWrapping(true);
  winmailBrowser_->setIconSize(QSize(48, 48));
  winmailBrowser_->setGridSize(QSize(120, 84));
  winmailBrowser_->setWordWrap(true);
  winmailBrowser_->setModel(model_);
  winmailBrowser_->setModelColumn(WinmailAttachmentModel::Name);
  m_tableview_ = new QTableView(presentations_);
  m_tableview_->setModel(model_);
  m_tableview_->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_tableview_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_tableview_->verticalHeader()->hide();
  m_tableview_->setShowGrid(false);
  m_tableview_->horizontalHeader()->setSectionResizeMode(WinmailAttachmentModel::Name, QHeaderView::Stretch);
  m_tableview_->horizontalHeader()->setSectionResizeMode(WinmailAttachmentModel::Date, QHeaderView::ResizeToContents);
  m_tableview_->horizontalHeader()->setSectionResizeMode(WinmailAttachmentModel::Size, QHeaderView::ResizeToContents);
  // Fitted to every row, not only to the first thousand: the widest size may come last.
  m_tableview_->horizontalHeader()->setResizeContentsPrecision(-1);
  for (QAbstractItemView* v : std::initializer_list<QAbstractItemView*>{winmailBrowser_, m_tableview_}) {
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setDragEnabled(true);
    v->setDragDropMode(QAbstractItemView::DragOnly);
    v->setDefaultDropAction(Qt::CopyAction);
  }
  presentations_->addWidget(winmailBrowser_);
  presentations_->addWidget(m_tableview_);
  presentations_->setCurrentWidget(m_tableview_);
  areaLayout->addWidget(presentations_, 1);

  // Only the table opens attachments, and it opens the row that was double-clicked.
  connect(m_tableview_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) openField(index.row());
  });
  connect(m_btnicon_, &QToolButton::clicked, this, &WinmailDocumentView::clickIconView);
  connect(m_btntable_, &QToolButton::clicked, this, &WinmailDocumentView::clickTableView);
  connect(m_btnstate_, &QToolButton::clicked, this, &WinmailDocumentView::clickHideBrowser);

  setMouseTracking(true);
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) watch(child);
  layoutAreas();
}

WinmailDocumentView::~WinmailDocumentView() = default;

void WinmailDocumentView::watch(QWidget* widget) {
  widget->setMouseTracking(true);
  widget->installEventFilter(this);
}

void WinmailDocumentView::setWinmailDocumentViewBrowserPath(const QString& browserPath, const QString& contentViewPath) {
  WinmailbrowserPath_ = browserPath;
  WinmailmessagePath_ = contentViewPath;
}

void WinmailDocumentView::refreshdata() {
  QMetaObject::invokeMethod(this, [this] { reloadViewData(); }, Qt::QueuedConnection);
}

void WinmailDocumentView::reloadViewData() {
  const QString extension = QFileInfo(WinmailmessagePath_).suffix().toLower();
  if (extension == QLatin1String("html")) {
    winmailWebViewData();
  } else {
    WinmailTextViewData();
  }
  WinmailBrowserViewData();
}

void WinmailDocumentView::setContentViewHiddenState(const QString& extension) {
  const bool html = extension.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0;
  WinmailWebView_->setVisible(html);
  winmailTextView_->setVisible(!html);
}

void WinmailDocumentView::WinmailBrowserViewData() { model_->setFolder(WinmailbrowserPath_); }

void WinmailDocumentView::winmailWebViewData() {
  QByteArray bytes;
  if (!readFile(WinmailmessagePath_, &bytes)) {
    logLine(foundation::LogLevel::Warning, QStringLiteral("cannot read the body %1").arg(WinmailmessagePath_));
    return;
  }
  showHtml(decodeHtml(bytes));
}

void WinmailDocumentView::showHtml(const QString& html) {
  const QString folder = QFileInfo(WinmailmessagePath_).absolutePath();
  WinmailWebView_->setAllowedFolder(folder);
  WinmailWebView_->document()->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
  WinmailWebView_->setHtml(html);
  setContentViewHiddenState(QStringLiteral("html"));
}

void WinmailDocumentView::WinmailTextViewData() {
  if (WinmailmessagePath_.isEmpty()) {
    winmailTextView_->clear();
    setContentViewHiddenState(QString());
    return;
  }
  QByteArray bytes;
  if (!readFile(WinmailmessagePath_, &bytes)) {
    logLine(foundation::LogLevel::Warning, QStringLiteral("cannot read the body %1").arg(WinmailmessagePath_));
    return;
  }
  if (QFileInfo(WinmailmessagePath_).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0) {
    winmailTextView_->setPlainText(decodeText(bytes));
    QTextCursor all(winmailTextView_->document());
    all.select(QTextCursor::Document);
    QTextCharFormat format;
    format.setFont(bodyFont());
    all.mergeCharFormat(format);
    setContentViewHiddenState(QStringLiteral("txt"));
    return;
  }
  showRtf(bytes);
}

void WinmailDocumentView::showRtf(const QByteArray& data) {
  const auto content = rtf::RTFReader::read(data);
  if (!content) {
    logLine(foundation::LogLevel::Warning, QStringLiteral("the body %1 is not RTF").arg(WinmailmessagePath_));
    return;
  }
  if (content->isHtml) {
    showHtml(content->html);
    return;
  }
  rtf::RTFTextDocument::fill(*winmailTextView_->document(), *content);
  // The user's font at the body size over the whole text; bold, italic and underline stay.
  QTextCursor all(winmailTextView_->document());
  all.select(QTextCursor::Document);
  QTextCharFormat format;
  format.setFontFamilies({bodyFont().family()});
  format.setFontPointSize(kBodyPointSize);
  all.mergeCharFormat(format);
  setContentViewHiddenState(QStringLiteral("rtf"));
}

// ---- layout -------------------------------------------------------------------------------

void WinmailDocumentView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutAreas();
}

void WinmailDocumentView::layoutAreas() {
  const int w = width();
  const int h = height();
  if (collapsed_) {
    WinmailScroll_->setGeometry(0, h - kCollapsedStrip, w, kBrowserHeight);
    bodyStack_->setGeometry(0, 0, w, std::max(0, h - kCollapsedStrip));
  } else {
    WinmailScroll_->setGeometry(0, h - kBrowserHeight, w, kBrowserHeight);
    bodyStack_->setGeometry(0, 0, w, std::max(0, h - kBrowserHeight));
  }
}

void WinmailDocumentView::setBrowserSize(bool collapse) {
  logLine(foundation::LogLevel::Debug, QStringLiteral("before WinmailTextView : %1").arg(frameText(bodyStack_->geometry())));
  collapsed_ = collapse;
  hovering_ = false;
  layoutAreas();
  WinmailScroll_->show();
  m_btnicon_->setVisible(!collapse);
  m_btntable_->setVisible(!collapse);
  m_btnstate_->setArrowType(collapse ? Qt::UpArrow : Qt::DownArrow);
  logLine(foundation::LogLevel::Debug, QStringLiteral("End WinmailTextView : %1").arg(frameText(bodyStack_->geometry())));
}

void WinmailDocumentView::clickHideBrowser() { setBrowserSize(!collapsed_); }

void WinmailDocumentView::clickIconView() { presentations_->setCurrentWidget(winmailBrowser_); }

void WinmailDocumentView::clickTableView() { presentations_->setCurrentWidget(m_tableview_); }

// ---- hover --------------------------------------------------------------------------------

QRect WinmailDocumentView::hoverRect() const { return QRect(0, height() - kHoverHeight, kHoverWidth, kHoverHeight); }

void WinmailDocumentView::mouseEntered() {
  if (!collapsed_) return;
  WinmailScroll_->show();
  logLine(foundation::LogLevel::Debug, QStringLiteral("show"));
}

void WinmailDocumentView::mouseExited() {
  if (!collapsed_) return;
  WinmailScroll_->hide();
  logLine(foundation::LogLevel::Debug, QStringLiteral("hidden"));
}

void WinmailDocumentView::pointerAt(const QPoint& inView) {
  const bool inside = hoverRect().contains(inView);
  if (inside == hovering_) return;
  hovering_ = inside;
  if (inside) mouseEntered();
  else mouseExited();
}

bool WinmailDocumentView::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget && (widget == this || isAncestorOf(widget))) {
    switch (event->type()) {
      case QEvent::MouseMove: {
        const auto* move = static_cast<QMouseEvent*>(event);
        pointerAt(widget->mapTo(this, move->position().toPoint()));
        break;
      }
      case QEvent::Leave:
        if (widget == this) pointerAt(QPoint(-1, -1));
        break;
      case QEvent::ChildAdded: {
        auto* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) watch(static_cast<QWidget*>(child));
        break;
      }
      default: break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---- opening ------------------------------------------------------------------------------

void WinmailDocumentView::openField(int row) {
  const QString path = model_->filePath(row);
  if (path.isEmpty()) return;
  const bool opened = opener_ ? opener_(path) : openWithDefaultApplication(path);
  if (opened) return;
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
                              XVErrorText::noApplicationToOpen(QFileInfo(path).fileName()), QMessageBox::NoButton, window());
  box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("noApplicationAlert"));
  XVFitAlertToText(box);
  box->open();
}

bool WinmailDocumentView::openWithDefaultApplication(const QString& path) {
  std::string error;
  const bool ok = winmail::openWithDefaultApplication(QFile::encodeName(path).toStdString(), &error);
  if (!ok) logLine(foundation::LogLevel::Info, QStringLiteral("no application opens %1: %2").arg(path, QString::fromStdString(error)));
  return ok;
}

QString WinmailDocumentView::fileSizeUnti(float bytes) {
  if (bytes < 1024.0f) return QString::asprintf("%.0f B", static_cast<double>(bytes));
  if (bytes < 1048576.0f) return QString::asprintf("%.2f K", static_cast<double>(bytes / 1024.0f));
  return QString::asprintf("%.2f M", static_cast<double>(bytes / 1048576.0f));
}
