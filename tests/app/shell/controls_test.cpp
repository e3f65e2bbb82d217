#include "shell/XVControls.h"
#include "shell/XVAbout.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QFontMetricsF>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include "app/shell/gui_test_app.h"

namespace {

class Controls : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::guiApp(); }
};

QPixmap solid(Qt::GlobalColor c) {
  QPixmap p(20, 20);
  p.fill(c);
  return p;
}

}  // namespace

TEST_F(Controls, ChangeButtonFlipsBeforeItsActionAndImagesFollowLater) {
  XVChangeButton button;
  button.resize(30, 30);
  const QPixmap onN = solid(Qt::red), onP = solid(Qt::darkRed), offN = solid(Qt::blue), offP = solid(Qt::darkBlue);
  button.setOnNormalImage(onN, onP);
  button.setOffNormalImage(offN, offP);
  ASSERT_TRUE(button.On());
  EXPECT_EQ(button.shownImage().cacheKey(), onN.cacheKey());

  std::vector<bool> seen;
  QObject::connect(&button, &QToolButton::clicked, [&] { seen.push_back(button.On()); });
  QTest::mouseClick(&button, Qt::LeftButton);
  ASSERT_EQ(seen, std::vector<bool>{false});
  QCoreApplication::processEvents();
  EXPECT_EQ(button.shownImage().cacheKey(), offN.cacheKey());

  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(seen, (std::vector<bool>{false, true}));
  QCoreApplication::processEvents();
  EXPECT_EQ(button.shownImage().cacheKey(), onN.cacheKey());

  button.setOn(false);
  EXPECT_FALSE(button.On());
  EXPECT_EQ(button.shownImage().cacheKey(), offN.cacheKey());
}

TEST_F(Controls, TextFieldCutsTheTailAndKeepsTheFullText) {
  XVTextField field;
  field.show();
  const QString text = "Quarterly report for the board.pdf";
  const double textWidth = QFontMetricsF(field.font()).horizontalAdvance(text);
  field.resize(static_cast<int>(std::ceil(textWidth + 2.0)), 20);
  field.setStringValue(text);
  EXPECT_EQ(field.text(), text);

  field.resize(static_cast<int>(textWidth / 2), 20);
  EXPECT_TRUE(field.text().endsWith("...")) << field.text().toStdString();
  EXPECT_TRUE(text.startsWith(field.text().chopped(3)));
  EXPECT_LE(QFontMetricsF(field.font()).horizontalAdvance(field.text()), field.width() - 2.0);
  EXPECT_EQ(field.stringValue(), text);

  field.resize(3, 20);
  field.setStringValue("W");
  EXPECT_EQ(field.text(), "...");
  field.setStringValue(QString());
  EXPECT_EQ(field.text(), "");
}

TEST_F(Controls, TextFieldTakesItsEditingKeysBeforeTheWindowShortcuts) {
  // The window claims the same keys, as the browser's window claims many.
  QWidget window;
  auto* field = new LTTextFiled(&window);
  int claimed = 0;
  for (const auto key : {Qt::Key_X, Qt::Key_C, Qt::Key_V, Qt::Key_A, Qt::Key_B}) {
    auto* a = new QAction(&window);
    a->setShortcut(QKeySequence(Qt::CTRL | key));
    QObject::connect(a, &QAction::triggered, [&] { ++claimed; });
    window.addAction(a);
  }
  window.show();
  window.activateWindow();
  field->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QClipboard* clipboard = QGuiApplication::clipboard();

  field->setText("alpha beta");
  field->setSelection(0, 5);
  clipboard->setText("untouched");
  QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(clipboard->text(), "untouched");

  QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), "alpha");
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(field->selectedText(), "alpha beta");
  QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(field->text(), "");
  EXPECT_EQ(clipboard->text(), "alpha beta");
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field->text(), "alpha beta");
  EXPECT_EQ(claimed, 0);
  // A key the field leaves alone reaches the window.
  QTest::keyClick(field, Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(claimed, 1);
}

namespace {
struct RecordingOutlineDelegate : XVOutlineViewDelegate {
  std::vector<std::pair<std::string, QString>> calls;  // (kind, item text), selection at the time
  std::vector<QModelIndexList> selectionAtCall;
  void outlineView_doubleClickItem(XVOutlineView* o, const QModelIndex& item) override {
    calls.push_back({"double", item.data().toString()});
    selectionAtCall.push_back(o->selectionModel()->selectedRows());
  }
  void outlineView_rightClickItem(XVOutlineView* o, const QModelIndex& item) override {
    calls.push_back({"right", item.data().toString()});
    selectionAtCall.push_back(o->selectionModel()->selectedRows());
  }
};
}  // namespace

TEST_F(Controls, OutlineReportsClicksAndSelectsBeforeARightClick) {
  QStandardItemModel model;
  for (const char* name : {"one", "two", "three"}) model.appendRow(new QStandardItem(name));
  XVOutlineView outline;
  outline.setModel(&model);
  outline.resize(200, 300);
  outline.show();
  RecordingOutlineDelegate delegate;
  outline.setOutlineDelegate(&delegate);
  outline.selectionModel()->select(model.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

  const QPoint second = outline.visualRect(model.index(1, 0)).center();
  QTest::mouseClick(outline.viewport(), Qt::RightButton, {}, second);
  ASSERT_EQ(delegate.calls.size(), 1u);
  EXPECT_EQ(delegate.calls[0], (std::pair<std::string, QString>{"right", "two"}));
  ASSERT_EQ(delegate.selectionAtCall[0].size(), 1);
  EXPECT_EQ(delegate.selectionAtCall[0][0].row(), 1);

  QTest::mouseDClick(outline.viewport(), Qt::LeftButton, {}, outline.visualRect(model.index(2, 0)).center());
  QTest::mouseDClick(outline.viewport(), Qt::LeftButton, {}, QPoint(100, 290));  // below the rows
  ASSERT_EQ(delegate.calls.size(), 3u);
  EXPECT_EQ(delegate.calls[1], (std::pair<std::string, QString>{"double", "three"}));
  EXPECT_EQ(delegate.calls[2], (std::pair<std::string, QString>{"double", ""}));
}

TEST_F(Controls, EveryNamedImageExists) {
  const char* names[] = {"pic_btn_view1_n", "pic_btn_view1_p", "pic_btn_view2_n", "pic_btn_view2_p",
                         "pic_btn_page_two_n", "pic_btn_page_two_p", "pic_btn_page_one_n", "pic_btn_page_one_p",
                         "pic_btn_page_continue_p", "pic_btn_page_continue_n", "pic_btn_zoom_ original_p",
                         "pic_btn_zoom_ original_n", "btn_zoom_ stretch_width_p", "btn_zoom_ stretch_width_n",
                         "pic_btn_single_zoom_original_p", "pic_btn_single_zoom_original_n",
                         "btn_zoom_ single_ stretch_width_p", "btn_zoom_ single_ stretch_width_n",
                         "pic_tab_selected_1", "pic_tab_selected_2", "pic_tab_selected_3", "pic_tab_unselected_1",
                         "pic_tab_unselected_2", "pic_tab_unselected_3"};
  for (const char* name : names) EXPECT_FALSE(XVImageNamed(name).isNull()) << name;
  EXPECT_TRUE(XVImageNamed("no_such_image").isNull());
  // An empty name only registers the resources (the help document among them), quietly.
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& m) {
    if (type != QtDebugMsg) warnings << m;
  });
  EXPECT_TRUE(XVImageNamed(QString()).isNull());
  qInstallMessageHandler(previous);
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join(' ').toStdString();
  EXPECT_TRUE(QFile::exists(":/help/Velmar Lectern tutorial 3.1.0.pdf"));
  for (const char* icon : {"pdf", "rtfd", "text", "png", "jpeg", "bmp", "gif", "tiff"})
    EXPECT_TRUE(QFile::exists(QString(":/icons/pic_icon_%1.svg").arg(icon))) << icon;
}

TEST_F(Controls, AboutWindowIsSharedAndNamesTheProduct) {
  XVAbout* about = XVAbout::ShareAbout();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(XVAbout::ShareAbout(), about);
  EXPECT_EQ(about->textAPPName()->text(), "Velmar Lectern");
  EXPECT_EQ(about->textAPPVersion()->text(), "Version 3.1.0");
  // Modal: showAbout returns once the window closes.
  QTimer::singleShot(50, about, [about] { about->close(); });
  about->showAbout();
  EXPECT_FALSE(about->isVisible());
}

TEST_F(Controls, AnAlertIsAsWideAsItsTextUpToItsMaximum) {
  const QString name = QString(140, u'x') + QStringLiteral(".pdf");
  struct Case {
    const char* what;
    QString text;
    bool oneLine;
  } cases[] = {
      {"a one-line message",
       QStringLiteral("testWORKSSpreadsheet7.0.xlr cannot be opened. This version is not supported."), true},
      {"a long message", QString(QStringLiteral("This sentence is long enough to need a few lines. ")).repeated(6), false},
      {"a long file name", name + QStringLiteral(" cannot be opened. It is protected by a password."), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QMessageBox box(QMessageBox::Warning, "Note", "Note");
    box.setInformativeText(c.text);
    XVFitAlertToText(&box);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    auto* info = box.findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_TRUE(info);
    const QFontMetrics metrics(info->font());
    const int max = XVAlertMaxWidth(&box);
    const QMargins margins = info->contentsMargins();
    auto textHeight = [&] { return info->heightForWidth(info->width()) - margins.top() - margins.bottom(); };
    EXPECT_LE(info->width(), max + 8);
    EXPECT_LE(box.width(), max + 200) << "the icon and the margins beside the text";
    if (c.oneLine) {
      EXPECT_GE(info->width(), metrics.horizontalAdvance(c.text));
      EXPECT_LT(textHeight(), 2 * metrics.lineSpacing());
    } else {
      // Wrapped, and in a column as wide as the maximum rather than a narrow one.
      EXPECT_GE(textHeight(), 2 * metrics.lineSpacing());
      EXPECT_GE(info->width(), max * 3 / 4);
    }
    // What it says is unchanged but for the places a long name may break.
    EXPECT_EQ(box.informativeText().remove(QChar(0x200B)), c.text);
  }
}
