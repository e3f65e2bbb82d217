#include "modules/winmail/WinmailDocumentView.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QApplication>
#include <QImage>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include "modules/winmail/WinmailModul.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using testsupport::TempDir;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class WinmailViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.resize(900, 600);
    view.show();
  }
  void TearDown() override {
    for (QMessageBox* box : view.findChildren<QMessageBox*>()) delete box;
  }
  // A message folder and an attachment folder with the given files; shows `body`.
  void load(const std::vector<std::pair<std::string, std::string>>& bodies, const std::string& body,
            const std::vector<std::string>& files = {}) {
    for (const auto& [name, bytes] : bodies) dir.write("MessagePath/" + name, bytes);
    std::filesystem::create_directories(dir / "AttachmentPath");
    for (const auto& name : files) dir.write("AttachmentPath/" + name, "data of " + name);
    view.setWinmailDocumentViewBrowserPath(q(dir / "AttachmentPath"), body.empty() ? QString() : q(dir / "MessagePath" / body));
    view.reloadViewData();
  }
  bool showsHtml() const { return view.webView()->isVisibleTo(&view) && !view.textView()->isVisibleTo(&view); }
  bool showsText() const { return !view.webView()->isVisibleTo(&view) && view.textView()->isVisibleTo(&view); }

  TempDir dir;
  WinmailDocumentView view;
};

}  // namespace

TEST(WinmailDocumentView, FileSizeUnits) {
  struct Case {
    float bytes;
    const char* text;
  } cases[] = {{0, "0 B"},        {428, "428 B"},         {1023, "1023 B"},       {1024, "1.00 K"},
               {1536, "1.50 K"},    {122020, "119.16 K"},   {1048575, "1024.00 K"}, {1048576, "1.00 M"},
               {5.5f * 1048576, "5.50 M"}};
  for (const auto& c : cases) EXPECT_EQ(WinmailDocumentView::fileSizeUnti(c.bytes), c.text) << c.bytes;
}

TEST_F(WinmailViewTest, TheChosenBodyIsShownWithTheRightView) {
  // The RTF body is shown at 20 points, its bold kept; the plain-text file is passed over.
  load({{"message body 1.txt", "plain words"}, {"message body 2.rtf", "{\\rtf1 {\\b rich} words}"}}, "message body 2.rtf");
  EXPECT_TRUE(showsText());
  EXPECT_EQ(view.textView()->toPlainText(), "rich words");
  const QTextCharFormat rich = view.textView()->document()->begin().begin().fragment().charFormat();
  EXPECT_EQ(rich.fontPointSize(), 20);
  EXPECT_EQ(rich.fontWeight(), QFont::Bold);

  load({{"message body 3.html", "<p>html <b>words</b></p>"}}, "message body 3.html");
  EXPECT_TRUE(showsHtml());
  EXPECT_EQ(view.webView()->toPlainText(), "html words");

  load({{"message body 4.txt", "caf\xc3\xa9 text"}}, "message body 4.txt");
  EXPECT_TRUE(showsText());
  EXPECT_EQ(view.textView()->toPlainText(), QString::fromUtf8("café text"));
  EXPECT_EQ(view.textView()->document()->begin().begin().fragment().charFormat().font().pointSize(), 20);

  // HTML carried in RTF goes to the HTML view.
  load({{"message body 5.rtf", "{\\rtf1\\fromhtml1 {\\*\\htmltag <p>}inner{\\*\\htmltag </p>}}"}}, "message body 5.rtf");
  EXPECT_TRUE(showsHtml());
  EXPECT_EQ(view.webView()->toPlainText(), "inner");

  // A body that is not RTF, or cannot be read, leaves the view as it was.
  load({{"message body 6.rtf", "not rtf at all"}}, "message body 6.rtf");
  EXPECT_EQ(view.webView()->toPlainText(), "inner");
  load({}, "message body 99.txt");
  EXPECT_EQ(view.webView()->toPlainText(), "inner");
}

TEST(WinmailModulBodies, TheBodyCounterPicksTheBody) {
  struct Case {
    std::vector<std::string> files;
    const char* chosen;
  } cases[] = {
      {{"message body 1.txt", "message body 2.rtf"}, "message body 2.rtf"},
      {{"message body 10.txt", "message body 9.html", "message body 2.rtf"}, "message body 10.txt"},
      {{".DS_Store", "message body 1.html"}, "message body 1.html"},
      {{"b.txt", "a.txt"}, "a.txt"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::filesystem::create_directories(dir / "m");
    for (const auto& f : c.files) dir.write("m/" + f, "x");
    const QString chosen = WinmailModul::chooseBodyFile(q(dir / "m"));
    EXPECT_EQ(chosen, *c.chosen ? q(dir / "m" / c.chosen) : QString()) << c.chosen;
  }
  for (const char* bad : {"", ".", "..", "a/b", "../x"}) EXPECT_EQ(WinmailModul::safeFileName(bad), "Untitled") << bad;
  EXPECT_EQ(WinmailModul::safeFileName("report (2).pdf"), "report (2).pdf");
}

namespace {

// Watches a FIFO from another thread: a reader that opens it (and would wait there for a
// writer) is let go at once with a little text, and the watch remembers it.
class FifoWatch {
 public:
  explicit FifoWatch(std::filesystem::path path) : path_(std::move(path)) {
    thread_ = std::thread([this] {
      while (!stop_) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          opened_ = true;
          (void)!::write(fd, "p { color: #808000 }", 20);
          ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  ~FifoWatch() {
    stop_ = true;
    thread_.join();
  }
  bool opened() const { return opened_; }

 private:
  std::filesystem::path path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> opened_{false};
  std::thread thread_;
};

// Caps the process's address space a little above what it uses now: a page that read an
// endless device would end in an allocation failure, not fill the machine's memory.
class AddressSpaceCap {
 public:
  AddressSpaceCap() {
    ::getrlimit(RLIMIT_AS, &saved_);
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    rlimit capped = saved_;
    capped.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 30);
    if (saved_.rlim_cur == RLIM_INFINITY || capped.rlim_cur < saved_.rlim_cur) ::setrlimit(RLIMIT_AS, &capped);
  }
  ~AddressSpaceCap() { ::setrlimit(RLIMIT_AS, &saved_); }

 private:
  rlimit saved_{};
};

QImage filled(QColor color) {
  QImage image(40, 40, QImage::Format_RGB32);
  image.fill(color);
  return image;
}

int pixelsOf(const QImage& image, QColor color) {
  int n = 0;
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < rgb.height(); ++y) {
    for (int x = 0; x < rgb.width(); ++x) n += QColor(rgb.pixel(x, y)) == color;
  }
  return n;
}

}  // namespace

TEST(WinmailHtmlBody, ReachesOnlyRegularFilesOfItsFolder) {
  const QColor insideText(0x00, 0x80, 0x00), outsideText(0x80, 0x80, 0x00);
  struct Case {
    const char* what;
    std::string css;  // the stylesheet the body links, "" for none
    std::string img;  // the image it shows, "" for none
    bool styled;      // the page takes the inside stylesheet's colour
    bool image;       // the inside (red) image is drawn
  } cases[] = {
      {"a stylesheet inside", "inside.css", "", true, false},
      {"an endless device", "/dev/zero", "", false, false},
      {"a link to an endless device", "zero.css", "", false, false},
      {"a FIFO inside", "fifo.css", "", false, false},
      {"a stylesheet above", "../outside.css", "", false, false},
      {"a stylesheet by absolute path", "OUTSIDE/outside.css", "", false, false},
      {"a link out of the folder", "link.css", "", false, false},
      {"a stylesheet over the size cap", "big.css", "", false, false},
      {"an image inside", "", "inside.png", false, true},
      {"an image above", "", "../outside.png", false, false},
      {"an image by absolute path", "", "OUTSIDE/outside.png", false, false},
      {"an image that is a FIFO", "", "fifo.png", false, false},
      {"an image on an endless device", "", "/dev/zero", false, false},
  };
  for (const Case& c : cases) {
    for (const bool inRtf : {false, true}) {
      const std::string what = std::string(c.what) + (inRtf ? " (HTML in RTF)" : " (HTML)");
      TempDir dir;
      const std::string outside = dir.path().string();
      dir.write("outside.css", "p { color: #808000 }");
      ASSERT_TRUE(filled(Qt::blue).save(q(dir / "outside.png")));
      dir.write("MessagePath/inside.css", "p { color: #008000 }");
      ASSERT_TRUE(filled(Qt::red).save(q(dir / "MessagePath/inside.png")));
      std::string big = "p { color: #008000 }";
      big.resize(WinmailHtmlView::kMaxResourceBytes + 1, ' ');
      dir.write("MessagePath/big.css", big);
      ASSERT_EQ(::mkfifo((dir / "MessagePath/fifo.css").c_str(), 0600), 0);
      ASSERT_EQ(::mkfifo((dir / "MessagePath/fifo.png").c_str(), 0600), 0);
      std::filesystem::create_symlink(dir / "outside.css", dir / "MessagePath/link.css");
      std::filesystem::create_symlink("/dev/zero", dir / "MessagePath/zero.css");
      auto place = [&](std::string ref) {
        if (ref.rfind("OUTSIDE", 0) == 0) ref.replace(0, 7, outside);
        return ref;
      };
      std::string head, img;
      if (!c.css.empty()) head = "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + place(c.css) + "\">";
      if (!c.img.empty()) img = "<img src=\"" + place(c.img) + "\">";
      std::string body;
      if (inRtf) {
        body = "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <html><head>" + head + "</head><body>}{\\*\\htmltag <p>}words{\\*\\htmltag </p>}{\\*\\htmltag " +
               img + "}{\\*\\htmltag </body></html>}}";
        dir.write("MessagePath/message body 1.rtf", body);
      } else {
        body = "<html><head>" + head + "</head><body><p>words</p>" + img + "</body></html>";
        dir.write("MessagePath/message body 1.html", body);
      }
      FifoWatch css(dir / "MessagePath/fifo.css"), png(dir / "MessagePath/fifo.png");
      WinmailDocumentView view;
      view.resize(900, 600);
      view.show();
      QImage shot;
      {
        AddressSpaceCap cap;
        view.setWinmailDocumentViewBrowserPath(QString(), q(dir / (inRtf ? "MessagePath/message body 1.rtf" : "MessagePath/message body 1.html")));
        view.reloadViewData();
        shot = view.webView()->viewport()->grab().toImage();
      }
      ASSERT_TRUE(view.webView()->isVisibleTo(&view)) << what;
      EXPECT_EQ(view.webView()->toPlainText().remove(QChar::ObjectReplacementCharacter).trimmed(), "words") << what;
      EXPECT_FALSE(css.opened()) << what;
      EXPECT_FALSE(png.opened()) << what;
      QColor text;
      for (QTextBlock b = view.webView()->document()->begin(); b.isValid(); b = b.next()) {
        if (b.text() == "words") text = b.begin().fragment().charFormat().foreground().color();
      }
      EXPECT_EQ(text == insideText, c.styled) << what;
      EXPECT_NE(text, outsideText) << what;
      EXPECT_EQ(pixelsOf(shot, Qt::red) > 0, c.image) << what;
      EXPECT_EQ(pixelsOf(shot, Qt::blue), 0) << what;
    }
  }
}

TEST_F(WinmailViewTest, CollapseExpandAndHover) {
  load({}, "", {"a.txt"});
  const int h = view.height();
  const int w = view.width();
  EXPECT_EQ(view.attachmentArea()->geometry(), QRect(0, h - 183, w, 183));
  EXPECT_EQ(view.bodyArea()->geometry(), QRect(0, 0, w, h - 183));
  EXPECT_EQ(view.stateButton()->arrowType(), Qt::DownArrow);

  view.stateButton()->click();
  EXPECT_TRUE(view.isBrowserCollapsed());
  EXPECT_EQ(view.attachmentArea()->geometry(), QRect(0, h - 23, w, 183));
  EXPECT_EQ(view.bodyArea()->geometry(), QRect(0, 0, w, h - 23));
  EXPECT_FALSE(view.iconButton()->isVisibleTo(&view));
  EXPECT_FALSE(view.tableButton()->isVisibleTo(&view));
  EXPECT_EQ(view.stateButton()->arrowType(), Qt::UpArrow);
  EXPECT_EQ(view.hoverRect(), QRect(0, h - 45, 800, 45));

  // The pointer leaving the bottom strip hides the collapsed area; coming back shows it.
  QTest::mouseMove(&view, QPoint(400, 100));
  QTest::mouseMove(&view, QPoint(400, h - 10));
  QTest::mouseMove(&view, QPoint(400, 100));
  EXPECT_FALSE(view.attachmentArea()->isVisibleTo(&view));
  QTest::mouseMove(&view, QPoint(400, h - 10));
  EXPECT_TRUE(view.attachmentArea()->isVisibleTo(&view));

  // Resizing keeps the layout of the state.
  view.resize(700, 500);
  EXPECT_EQ(view.attachmentArea()->geometry(), QRect(0, 500 - 23, 700, 183));

  view.clickHideBrowser();
  EXPECT_FALSE(view.isBrowserCollapsed());
  EXPECT_EQ(view.attachmentArea()->geometry(), QRect(0, 500 - 183, 700, 183));
  EXPECT_EQ(view.bodyArea()->geometry(), QRect(0, 0, 700, 500 - 183));
  EXPECT_TRUE(view.iconButton()->isVisibleTo(&view));
  // Expanded, the hover changes nothing.
  view.mouseExited();
  EXPECT_TRUE(view.attachmentArea()->isVisibleTo(&view));
}

TEST_F(WinmailViewTest, AttachmentListsOpeningAndDragging) {
  load({}, "", {"b.pdf", ".DS_Store", "a.txt", "c.png"});
  WinmailAttachmentModel* model = view.attachmentModel();
  ASSERT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->data(model->index(0, WinmailAttachmentModel::Name), Qt::DisplayRole).toString(), "a.txt");
  EXPECT_EQ(model->data(model->index(2, WinmailAttachmentModel::Name), Qt::DisplayRole).toString(), "c.png");
  EXPECT_EQ(model->data(model->index(0, WinmailAttachmentModel::Size), Qt::DisplayRole).toString(), "13 B");
  EXPECT_EQ(model->data(model->index(0, WinmailAttachmentModel::Date), Qt::DisplayRole).toString().size(), 19);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Date");
  EXPECT_EQ(view.iconView()->model(), view.tableView()->model());
  view.clickIconView();
  EXPECT_TRUE(view.iconView()->isVisibleTo(&view));
  EXPECT_FALSE(view.tableView()->isVisibleTo(&view));
  view.clickTableView();
  EXPECT_TRUE(view.tableView()->isVisibleTo(&view));

  // Dragging rows offers their files, each once.
  std::unique_ptr<QMimeData> mime(model->mimeData({model->index(2, 0), model->index(0, 0), model->index(0, 2)}));
  ASSERT_TRUE(mime);
  EXPECT_EQ(mime->urls(), (QList<QUrl>{QUrl::fromLocalFile(q(dir / "AttachmentPath/a.txt")),
                                       QUrl::fromLocalFile(q(dir / "AttachmentPath/c.png"))}));
  EXPECT_TRUE(model->flags(model->index(1, 0)).testFlag(Qt::ItemIsDragEnabled));
  EXPECT_FALSE(model->flags(model->index(1, 0)).testFlag(Qt::ItemIsEditable));

  // A double click opens the row that was clicked, not the selected one.
  QStringList opened;
  bool answer = true;
  view.setOpener([&](const QString& path) {
    opened << path;
    return answer;
  });
  view.tableView()->selectRow(0);
  QApplication::processEvents();
  const QRect row2 = view.tableView()->visualRect(model->index(2, 0));
  QTest::mouseClick(view.tableView()->viewport(), Qt::LeftButton, {}, row2.center());
  QTest::mouseDClick(view.tableView()->viewport(), Qt::LeftButton, {}, row2.center());
  EXPECT_EQ(opened, QStringList{q(dir / "AttachmentPath/c.png")});
  EXPECT_TRUE(view.findChildren<QMessageBox*>("noApplicationAlert").isEmpty());

  answer = false;
  const QRect row1 = view.tableView()->visualRect(model->index(1, 0));
  QTest::mouseClick(view.tableView()->viewport(), Qt::LeftButton, {}, row1.center());
  QTest::mouseDClick(view.tableView()->viewport(), Qt::LeftButton, {}, row1.center());
  EXPECT_EQ(opened.back(), q(dir / "AttachmentPath/b.pdf"));
  const auto alerts = view.findChildren<QMessageBox*>("noApplicationAlert");
  ASSERT_EQ(alerts.size(), 1);
  EXPECT_EQ(alerts[0]->text(), "Has no application to open the file \"b.pdf\".");
  EXPECT_EQ(alerts[0]->windowTitle(), "Warning");
  // Sized to its text: the one line stays whole, however narrow the box would make it.
  const auto* label = alerts[0]->findChild<QLabel*>("qt_msgbox_label");
  ASSERT_TRUE(label);
  EXPECT_GE(label->minimumWidth(), QFontMetrics(label->font()).horizontalAdvance(alerts[0]->text()));

  // Below the last row nothing opens.
  const int before = static_cast<int>(opened.size());
  const QPoint below(10, view.tableView()->viewport()->height() - 2);
  QTest::mouseClick(view.tableView()->viewport(), Qt::LeftButton, {}, below);
  QTest::mouseDClick(view.tableView()->viewport(), Qt::LeftButton, {}, below);
  EXPECT_EQ(opened.size(), before);
}

TEST_F(WinmailViewTest, TheDateAndSizeColumnsFitEveryRow) {
  // More rows than a table measures by itself, the widest size in the last one.
  for (int i = 0; i < 1010; ++i) dir.write("AttachmentPath/f" + std::to_string(10000 + i), std::string(i == 1009 ? 122020 : 5, 'x'));
  load({}, "");
  QApplication::processEvents();
  QTableView* table = view.tableView();
  WinmailAttachmentModel* model = view.attachmentModel();
  ASSERT_EQ(model->rowCount(), 1010);
  EXPECT_EQ(model->data(model->index(1009, WinmailAttachmentModel::Size), Qt::DisplayRole).toString(), "119.16 K");
  for (int column : {int(WinmailAttachmentModel::Date), int(WinmailAttachmentModel::Size)}) {
    int widest = 0;
    for (int row = 0; row < model->rowCount(); ++row) widest = std::max(widest, table->sizeHintForIndex(model->index(row, column)).width());
    EXPECT_GE(table->columnWidth(column), widest) << column;
  }
}

TEST_F(WinmailViewTest, ImageAttachmentsGetThumbnailsOffTheGuiThread) {
  load({}, "", {"notes.txt"});
  QImage red(400, 200, QImage::Format_RGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(red.save(q(dir / "AttachmentPath/photo.png")));
  dir.write("AttachmentPath/fake.png", "not an image");
  view.reloadViewData();
  WinmailAttachmentModel* model = view.attachmentModel();
  ASSERT_EQ(model->rowCount(), 3);  // fake.png, notes.txt, photo.png
  for (int row = 0; row < 3; ++row) model->data(model->index(row, 0), Qt::DecorationRole);
  EXPECT_TRUE(model->thumbnailsPending());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (model->thumbnailsPending() && std::chrono::steady_clock::now() < deadline) QApplication::processEvents();
  ASSERT_FALSE(model->thumbnailsPending());
  const QIcon photo = model->data(model->index(2, 0), Qt::DecorationRole).value<QIcon>();
  const QImage thumb = photo.pixmap(QSize(96, 96)).toImage();
  EXPECT_EQ(thumb.size(), QSize(96, 48));
  EXPECT_EQ(thumb.pixelColor(10, 10), QColor(Qt::red));
  // A file that only looks like an image keeps an icon of its type.
  EXPECT_FALSE(model->data(model->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
}

