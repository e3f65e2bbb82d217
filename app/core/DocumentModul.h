#pragma once
// The document module contract: the import interface the load manager drives, the progress
// callbacks a module reports, the viewer operations the browser sends to a PDF-based module,
// and the factory that picks the module for a path.
//
// Threads: the factory, the setters, startImport() and importWithResultPath() (cache hit) run
// on a load thread; progress callbacks arrive on whatever thread the module reports from;
// every viewer operation, and the first documentView(), run on the GUI thread.

#include <QFlags>
#include <QList>
#include <QRectF>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/Format.h"

class QWidget;
class DocumentModul;
class ImportInterface;
namespace pdfkit {
class PDFDocument;
class PDFPage;
}  // namespace pdfkit

// What a module reports to its delegate (the load manager).
class ImportProgressDelegate {
 public:
  virtual ~ImportProgressDelegate() = default;
  virtual void ImportProgressDelegate_start(ImportInterface* import) = 0;
  virtual void ImportProgressDelegate_Progress(double percent, ImportInterface* import) = 0;
  // Exactly one per startImport().
  virtual void ImportProgressDelegate_end(bool success, ImportInterface* import, const QString& errorInfo) = 0;
};

// What every module offers the load manager, and the viewer operations every module answers.
// A module says what it shows (its kind) and which further operations it answers (its
// capabilities); the browser asks these and never looks at the file name. The PDF-based
// modules derive from DocumentModul; a message module (the mail container's) derives from
// this class directly, answers ModuleKind::Message and no capabilities.
class ImportInterface {
 public:
  // What the module shows: the pages of a PDF, or one mail message with its attachments. A
  // message tab has no toolbar, is titled with the product name alone, gets no page
  // operations, is never written back and raises no corrupt-file alert of the browser's.
  enum class ModuleKind { PageDocument, Message };
  // Viewer operations beyond this interface; the browser sends an operation only to a module
  // that has its capability.
  enum Capability : unsigned {
    PageNavigation = 1u << 0,  // first, previous, next and last page; go to a page
    Zoom = 1u << 1,            // zoom in and out, actual size, fit width
    Rotation = 1u << 2,        // rotate one page or all pages; written back when the tab closes
    PageLayouts = 1u << 3,     // single or two-up pages, continuous scrolling
    ThumbnailList = 1u << 4,   // show or hide the side list
    Search = 1u << 5,
    Print = 1u << 6,
    Bookmarks = 1u << 7,       // bookmarks at the current page
  };
  Q_DECLARE_FLAGS(Capabilities, Capability)

  virtual ~ImportInterface() = default;
  ImportInterface(const ImportInterface&) = delete;
  ImportInterface& operator=(const ImportInterface&) = delete;

  virtual ModuleKind moduleKind() const = 0;
  virtual Capabilities capabilities() const { return {}; }
  // The page document operations; null for a module of any other kind.
  virtual DocumentModul* pageDocument() { return nullptr; }
  // The Save As and Extract Images choices; empty when the module offers none.
  virtual QList<Format> SupportSaveFormats() const { return {}; }
  virtual QList<Format> SupportExtractFormats() const { return {}; }

  void setDelegate(std::weak_ptr<ImportProgressDelegate> delegate);
  virtual void setImportSourcePath(const QString& path);
  virtual void setImportOutPath(const QString& path);
  virtual void setImportStartPage(qint64 startPage, qint64 endpage);

  // Begins converting sourcePath() into outPath(). Every call ends with exactly one
  // ImportProgressDelegate_end; an exception thrown by the conversion ends it with NO.
  void startImport();
  // Asks a running conversion to end soon (with its one end); may come more than once.
  virtual void stopImport() {}
  // Opens the result at `path`; NO when it cannot be opened.
  virtual bool importWithResultPath(const QString& path) = 0;

  virtual pdfkit::PDFDocument* DocumentModulPDFDocument() { return nullptr; }
  // Yes when the module holds an opened result to show: by default its PDF document.
  virtual bool hasOpenResult() { return DocumentModulPDFDocument() != nullptr; }
  // The module's view; created on first use, on the GUI thread.
  virtual QWidget* documentView() = 0;
  // The browser sends it from the end callback's thread as well as from the GUI thread.
  virtual void ResetViewSize(const QRectF& frame);
  virtual void reloadDocumentViewData() {}

  QString sourcePath() const;
  QString outPath() const;
  QRectF viewFrame() const;

  // Yes once the current import has sent its end.
  bool importEnded() const { return ended_.load(); }
  // Why the last importWithResultPath() could not open its result, for the user; empty when
  // it opened or has no reason of its own.
  QString openFailureReason() const;

 protected:
  ImportInterface() = default;

  // Asked by startImport() first: false refuses this start, which then ends at once with NO
  // and `reason`, leaving an import still running (and its one end) untouched.
  virtual bool acceptsStart(QString* reason) {
    (void)reason;
    return true;
  }
  // The conversion itself; report through sendStart / sendProgress / sendEnd or finishImport.
  // A module that reports from a thread of its own holds a strong reference to itself there:
  // the end may drop the last other one.
  virtual void doStartImport() = 0;

  void sendStart();
  void sendProgress(double percent);
  // Sends the end once; later calls for the same import are ignored (and answer false).
  bool sendEnd(bool success, const QString& errorInfo);
  // Opens `resultPath` and ends: YES when it opened, else (also when the open throws) NO with
  // the open's reason, or `errorInfo` when it gave none.
  bool finishImport(const QString& resultPath, const QString& errorInfo);
  // Set by importWithResultPath() when it cannot open its result and knows why.
  void setOpenFailureReason(const QString& reason);

 private:
  std::shared_ptr<ImportProgressDelegate> delegate() const;

  mutable std::mutex mutex_;  // guards the paths, the delegate and the frame
  std::weak_ptr<ImportProgressDelegate> delegate_;
  QString sourcePath_;
  QString outPath_;
  std::atomic<bool> ended_{false};
  QRectF viewFrame_;
  QString openFailureReason_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ImportInterface::Capabilities)

// Defines the entry of a module plugin, which registers the plugin's creators.
#define LECTERN_MODULE_PLUGIN_ENTRY extern "C" __attribute__((visibility("default"))) void lectern_register_moduls()

// The base of the PDF-based modules (PDF, Works, WordPerfect, XPS, DjVu, Visio).
class DocumentModul : public ImportInterface {
 public:
  // The slots of the factory, tested in this order.
  enum class Kind { XPS, Works, Winmail, PDF, DjVu, Visio, DXF, WordPerfect };
  using Creator = std::function<std::shared_ptr<ImportInterface>(const QString& path)>;

  // A new module for the path by its extension (case ignored), or nullptr. A creator may
  // decline a file (answer nullptr); the next slot that holds the extension is asked then.
  static std::shared_ptr<ImportInterface> documentModulFilePath(const QString& path);
  // The kind of module documentModulFilePath() makes for the path, known before the module
  // exists: Message for the mail container's slot, PageDocument for any other.
  static ModuleKind moduleKindForPath(const QString& path);
  // Yes when an element of `list` equals `extension` (case ignored).
  static bool fileExtension(const QString& extension, const QStringList& list);
  // The slot that takes the extension, if any (DXF included).
  static bool kindForExtension(const QString& extension, Kind* kind);
  // Module classes register their creator; nullptr unregisters. DXF never gets a module.
  // A creator answers nullptr to decline a file it cannot serve.
  static void registerModuleClass(Kind kind, Creator creator);
  // A slot served by a module plugin (foundation::pluginSymbol): the plugin is loaded the first
  // time the slot is asked for a module, and its entry (LECTERN_MODULE_PLUGIN_ENTRY) registers
  // its creators. A plugin that cannot be loaded, or registers no creator for the slot, leaves
  // it without a module (said in the log). registerModuleClass() for the slot replaces this.
  static void registerModulePlugin(Kind kind, const std::string& plugin);

  ModuleKind moduleKind() const final { return ModuleKind::PageDocument; }
  DocumentModul* pageDocument() final { return this; }
  // Every page operation; a module that cannot carry one out leaves its capability out.
  Capabilities capabilities() const override;

  virtual pdfkit::PDFPage* currentPage() { return nullptr; }
  virtual qint64 currentNumberPage() { return 0; }
  virtual qint64 DocumentcountPage() { return 0; }
  virtual void goFirstPage() {}
  virtual void goPreviousPage() {}
  virtual void goNextPage() {}
  virtual void goLastPage() {}
  // Ignored when the index is not below the page count.
  virtual void goPageAtIndex(qint64 index) { (void)index; }

  // YES hides the side list (thumbnails or search results) and gives the page view the whole
  // frame; NO shows the list beside it. isShow() is YES while the list is hidden.
  virtual void setShowThumbnailList(bool hideSideList) { (void)hideSideList; }
  virtual bool isShow() const { return true; }
  virtual void setshowPageContinue(bool on) { (void)on; }
  virtual void setshowOneOrTwoPageIsOne(bool one) { (void)one; }
  virtual bool pageContinue() const { return true; }
  virtual bool oneOrTwoPageIsOne() const { return true; }

  virtual void setZoomIn() {}
  virtual void setZoomOut() {}
  virtual void setScale(double scale) { (void)scale; }
  // YES fits the page to the view's width; NO gives the scale back to the zoom commands.
  virtual void setAutoResize(bool fitWidth) { (void)fitWidth; }

  virtual void rotateCurPageleft() {}
  virtual void rotateCurPage(qint64 degrees) { (void)degrees; }
  virtual void rotateAllPageleft() {}
  virtual void rotateAllPage(qint64 degrees) { (void)degrees; }
  virtual void setNeedSave(bool v) { (void)v; }
  virtual bool needSave() const { return false; }
  // Writes the changed document back to outPath(); answers whether it was written.
  virtual bool needSaveDocument() { return false; }

  virtual void print() {}
  virtual void searchContent(const QString& text) { (void)text; }
  virtual void searchEndState() {}
  // The text last handed to searchContent(), whether or not it was searched for (the same
  // text twice runs one search).
  virtual QString getSearchString() const { return QString(); }
};
