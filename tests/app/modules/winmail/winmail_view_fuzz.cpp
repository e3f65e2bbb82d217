// Fuzz target: the mail module and the message view, offscreen. A TNEF container goes through
// the module (bodies and attachments written, then shown with their thumbnails); any other
// input is shown as a message body, RTF when it starts "{\rtf", else HTML, from a folder that
// also holds a stylesheet, an image, FIFOs and a link to an endless device.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QTableView>
#include <QTextBrowser>
#include <QTextEdit>

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "modules/winmail/WinmailDocumentView.h"
#include "modules/winmail/WinmailModul.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "support/fuzz_input.h"

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

struct Ends : ImportProgressDelegate {
  int ends = 0;
  bool success = false;
  void ImportProgressDelegate_start(ImportInterface*) override {}
  void ImportProgressDelegate_Progress(double, ImportInterface*) override {}
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString&) override {
    ++ends;
    success = ok;
  }
};

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  foundation::setLogSink([](const foundation::LogRecord&) {});
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "winmail_view_fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // for the life of the process
}

// Runs the main queue and Qt's events until `done()`; a run that never ends is a fault.
template <class F>
void pumpUntil(F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    foundation::Dispatcher::drainMain();
    QCoreApplication::processEvents();
    if (std::chrono::steady_clock::now() > end) std::abort();
  }
}

// Lays the view out and paints it in both attachment presentations, thumbnails made.
void exercise(WinmailDocumentView& view) {
  view.resize(640, 480);
  view.show();
  view.reloadViewData();
  WinmailAttachmentModel* model = view.attachmentModel();
  for (int row = 0; row < model->rowCount(); ++row) {
    for (int column = 0; column < model->columnCount(); ++column) {
      for (int role : {Qt::DisplayRole, Qt::DecorationRole, Qt::ToolTipRole}) (void)model->data(model->index(row, column), role);
    }
  }
  pumpUntil([&] { return !model->thumbnailsPending(); });
  (void)view.grab();
  view.clickIconView();
  (void)view.grab();
  view.clickTableView();
  view.setBrowserSize(true);
  (void)view.grab();
}

// The message folder of the body road, made once.
const std::filesystem::path& bodyFolder() {
  static const std::filesystem::path folder = [] {
    const auto root = testsupport::fuzzScratch() / "mail";
    const auto messages = root / "MessagePath";
    std::filesystem::create_directories(messages);
    std::filesystem::create_directories(root / "AttachmentPath");
    auto write = [](const std::filesystem::path& p, const char* text) {
      FILE* f = std::fopen(p.c_str(), "wb");
      if (!f) std::abort();
      std::fputs(text, f);
      std::fclose(f);
    };
    write(messages / "inside.css", "p { color: #008000 } td { border: 1px solid red }");
    write(root / "outside.css", "p { color: #808000 }");
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    if (!image.save(q(messages / "inside.png")) || !image.save(q(root / "outside.png")) ||
        !image.save(q(root / "AttachmentPath" / "picture.png"))) {
      std::abort();
    }
    // A page that opened either FIFO would wait there for ever: the run's time-out reports it.
    if (::mkfifo((messages / "fifo.css").c_str(), 0600) != 0 || ::mkfifo((messages / "fifo.png").c_str(), 0600) != 0) std::abort();
    std::filesystem::create_symlink("/dev/zero", messages / "zero.css");
    return messages;
  }();
  return folder;
}

void showBody(const std::uint8_t* data, std::size_t size) {
  const bool rtf = size >= 5 && std::memcmp(data, "{\\rtf", 5) == 0;
  const auto& folder = bodyFolder();
  const auto body = folder / (rtf ? "message body 1.rtf" : "message body 1.html");
  std::filesystem::remove(folder / "message body 1.rtf");
  std::filesystem::remove(folder / "message body 1.html");
  FILE* f = std::fopen(body.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  WinmailDocumentView view;
  view.setWinmailDocumentViewBrowserPath(q(folder.parent_path() / "AttachmentPath"), q(body));
  exercise(view);
}

void openContainer(const std::uint8_t* data, std::size_t size) {
  const auto source = testsupport::writeFuzzInput("input.dat", data, size);
  const auto out = testsupport::fuzzScratch() / "out";
  std::filesystem::remove_all(out);
  auto ends = std::make_shared<Ends>();
  auto module = std::make_shared<WinmailModul>(q(source));
  module->setDelegate(ends);
  module->setImportOutPath(q(out / "KEY"));
  module->startImport();
  pumpUntil([&] { return ends->ends > 0; });
  foundation::Dispatcher::drainMain();
  if (ends->ends != 1 || ends->success != module->hasOpenResult()) std::abort();
  // Nothing is written outside the two folders of the output.
  const QString message = q(out / "KEY" / "MessagePath"), attachment = q(out / "KEY" / "AttachmentPath");
  QDirIterator it(q(out), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString folder = QFileInfo(path).absolutePath();
    if (path != q(out / "KEY") && path != message && path != attachment && folder != message && folder != attachment) std::abort();
  }
  for (const QUrl& url : module->attachments()) {
    if (QFileInfo(url.toLocalFile()).absolutePath() != attachment) std::abort();
  }
  if (!ends->success) return;
  auto* view = static_cast<WinmailDocumentView*>(module->documentView());
  exercise(*view);
}

}  // namespace

// Fontconfig keeps what it allocates for the fonts it has matched until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  setUp();
  static const std::uint8_t kSignature[] = {0x78, 0x9F, 0x3E, 0x22};
  if (size >= 4 && std::memcmp(data, kSignature, 4) == 0) openContainer(data, size);
  else showBody(data, size);
  return 0;
}
