#include "shell/XVBookmarkLib.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

#include <cstdlib>
#include <memory>

#include "platform/foundation/log.h"
#include "core/XVBaseFunction.h"
#include "support/temp_dir.h"

namespace {

// The user defaults live in a private folder for the whole run (QSettings reads the location
// once per process).
class ConfigHome : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>();
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
      ::setenv(var, (dir_->path() / var).c_str(), 1);
    }
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
};
[[maybe_unused]] auto* const configHome = ::testing::AddGlobalTestEnvironment(new ConfigHome);

QString storedText(const QString& key = "BOOK_MARK_LIB_KEY") { return XVBaseFunction::userDefaults()->value(key).toString(); }

QJsonObject stored() { return QJsonDocument::fromJson(storedText().toUtf8()).object(); }

void store(const QString& text) { XVBaseFunction::userDefaults()->setValue("BOOK_MARK_LIB_KEY", text); }

class BookmarkLib : public ::testing::Test {
 protected:
  void SetUp() override {
    XVBaseFunction::setClockForTesting([] { return QDateTime(QDate(2016, 12, 31), QTime(12, 59, 59)); });
    XVBaseFunction::userDefaults()->clear();
  }
  void TearDown() override {
    XVBaseFunction::releaseAppEndObjects();
    XVBaseFunction::userDefaults()->clear();
    XVBaseFunction::setClockForTesting(nullptr);
  }
  // What the next run of the application sees.
  static std::shared_ptr<XVBookmarkLib> restart() {
    XVBaseFunction::releaseAppEndObjects();
    return XVBookmarkLib::ShareBookmarkLib();
  }
  static std::shared_ptr<XVBookmark> mark(const QString& path, const QString& name, qint64 page = 0) {
    auto m = XVBookmark::bookmark();
    m->setFilePath(path);
    m->setName(name);
    m->setPageIndex(page);
    return m;
  }
};

TEST_F(BookmarkLib, IdentifiersWithinOneSecondDifferInTheirSequence) {
  const auto a = XVBookmark::bookmark();
  const auto b = XVBookmark::bookmark();
  EXPECT_EQ(a->ID(), "bookmark_201612311259590000");
  EXPECT_EQ(b->ID(), "bookmark_201612311259590001");
  EXPECT_EQ(a->ID().size(), 27);
}

TEST_F(BookmarkLib, BookmarksOfOneDocumentShareAGroupNewestFirst) {
  auto lib = XVBookmarkLib::ShareBookmarkLib();
  const auto first = mark("/docs/a.pdf", "one");
  const auto second = mark("/docs/a.pdf", "two");
  const auto other = mark("/docs/b.pdf", "three");
  lib->addBookmark(first, "/docs/a.pdf");
  lib->addBookmark(second, "/docs/a.pdf");
  lib->addBookmark(other, "/docs/b.pdf");

  ASSERT_EQ(lib->gropCount(), 2);
  const auto grop = lib->gropByFilePath("/docs/a.pdf");
  ASSERT_TRUE(grop);
  EXPECT_EQ(grop, lib->gropAtIndex(0));
  EXPECT_EQ(grop->name(), "a.pdf");
  EXPECT_EQ(grop->bookmarkIDArray(), QStringList({second->ID(), first->ID()}));
  EXPECT_EQ(lib->bookmarkByID(first->ID()), first);
  EXPECT_EQ(lib->gropAtIndex(1)->bookmarkIDArray(), QStringList({other->ID()}));

  // Adding the same bookmark again moves it to the front, listed once.
  lib->addBookmark(first, "/docs/a.pdf");
  EXPECT_EQ(grop->bookmarkIDArray(), QStringList({first->ID(), second->ID()}));

  // Every change is in the user defaults at once.
  const QJsonObject s = stored();
  EXPECT_EQ(s["BOOK_MARK_LIB_MARK_DIC_KEY"].toObject().size(), 3);
  EXPECT_EQ(s["BOOK_MARK_LIB_GROP_ARRAY_KEY"].toArray().size(), 2);
}

TEST_F(BookmarkLib, EmptiedGroupStaysAndIsReused) {
  auto lib = XVBookmarkLib::ShareBookmarkLib();
  const auto a = mark("/a.pdf", "a");
  const auto b = mark("/b.pdf", "b");
  const auto c = mark("/c.pdf", "c");
  lib->addBookmark(a, "/a.pdf");
  lib->addBookmark(b, "/b.pdf");
  lib->addBookmark(c, "/c.pdf");

  lib->removeBookmark(b);
  EXPECT_FALSE(lib->bookmarkByID(b->ID()));
  EXPECT_EQ(lib->gropCount(), 3);
  EXPECT_EQ(lib->gropNonEmptyCount(), 2);
  EXPECT_EQ(lib->gropNonEmptyAtIndex(0)->filePath(), "/a.pdf");
  EXPECT_EQ(lib->gropNonEmptyAtIndex(1)->filePath(), "/c.pdf");
  EXPECT_FALSE(lib->gropNonEmptyAtIndex(2));
  EXPECT_FALSE(lib->gropNonEmptyAtIndex(-1));
  const auto emptied = lib->gropByFilePath("/b.pdf");
  ASSERT_TRUE(emptied);
  EXPECT_EQ(emptied->bookmarkCount(), 0);

  const auto again = mark("/b.pdf", "again");
  lib->addBookmark(again, "/b.pdf");
  EXPECT_EQ(lib->gropCount(), 3);
  EXPECT_EQ(lib->gropByFilePath("/b.pdf"), emptied);
  EXPECT_EQ(emptied->bookmarkIDArray(), QStringList({again->ID()}));
  EXPECT_EQ(lib->gropNonEmptyCount(), 3);

  // clearBookmarkByGrop also keeps the group.
  lib->clearBookmarkByGrop(emptied);
  EXPECT_EQ(lib->gropByFilePath("/b.pdf"), emptied);
  EXPECT_FALSE(lib->bookmarkByID(again->ID()));
  EXPECT_EQ(lib->gropNonEmptyCount(), 2);
}

TEST_F(BookmarkLib, RemovingAGroupRemovesEveryOneOfItsBookmarks) {
  auto lib = XVBookmarkLib::ShareBookmarkLib();
  QList<std::shared_ptr<XVBookmark>> marks;
  for (int i = 0; i < 5; ++i) {
    marks.append(mark("/a.pdf", QString::number(i)));
    lib->addBookmark(marks.last(), "/a.pdf");
  }
  const auto keep = mark("/b.pdf", "keep");
  lib->addBookmark(keep, "/b.pdf");

  lib->removeGropByFilePath("/a.pdf");
  EXPECT_FALSE(lib->gropByFilePath("/a.pdf"));
  for (const auto& m : marks) EXPECT_FALSE(lib->bookmarkByID(m->ID())) << m->name().toStdString();
  EXPECT_EQ(lib->bookmarkByID(keep->ID()), keep);
  EXPECT_EQ(restart()->gropCount(), 1);
}

TEST_F(BookmarkLib, LibraryLivesAcrossARestart) {
  {
    auto lib = XVBookmarkLib::ShareBookmarkLib();
    lib->addBookmark(mark("/docs/Report.pdf", "intro", 0), "/docs/Report.pdf");
    lib->addBookmark(mark("/docs/Report.pdf", "results", 41), "/docs/Report.pdf");
    const auto gone = mark("/docs/old.pdf", "gone");
    lib->addBookmark(gone, "/docs/old.pdf");
    lib->removeBookmark(gone);
  }
  auto lib = restart();
  ASSERT_EQ(lib->gropCount(), 2);
  const auto grop = lib->gropAtIndex(0);
  EXPECT_EQ(grop->filePath(), "/docs/Report.pdf");
  EXPECT_EQ(grop->name(), "Report.pdf");
  ASSERT_EQ(grop->bookmarkCount(), 2);
  const auto newest = lib->bookmarkByID(grop->bookmarkIDByIndex(0));
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->name(), "results");
  EXPECT_EQ(newest->pageIndex(), 41);
  EXPECT_EQ(newest->filePath(), "/docs/Report.pdf");
  EXPECT_EQ(lib->bookmarkByID(grop->bookmarkIDByIndex(1))->name(), "intro");
  EXPECT_EQ(lib->gropAtIndex(1)->filePath(), "/docs/old.pdf");
  EXPECT_EQ(lib->gropAtIndex(1)->bookmarkCount(), 0);
}

TEST_F(BookmarkLib, RenamesAndRecentPageArePersistedAtOnce) {
  auto lib = XVBookmarkLib::ShareBookmarkLib();
  const auto m = mark("/a.pdf", "before");
  lib->addBookmark(m, "/a.pdf");

  m->setName("after");
  EXPECT_EQ(stored()["BOOK_MARK_LIB_MARK_DIC_KEY"].toObject()[m->ID()].toObject()["BOOKMARK_NAME_KEY"].toString(),
            "after");
  lib->gropByFilePath("/a.pdf")->setRecentPageIndex(7);
  EXPECT_EQ(stored()["BOOK_MARK_LIB_GROP_ARRAY_KEY"].toArray()[0].toObject()["GROP_RENCT_PAGEINDEX_KEY"].toInteger(), 7);

  auto next = restart();
  EXPECT_EQ(next->bookmarkByID(m->ID())->name(), "after");
  EXPECT_EQ(next->gropAtIndex(0)->recentPageIndex(), 7);
}

TEST_F(BookmarkLib, NewBookmarkNeverReplacesAStoredOne) {
  const auto old = mark("/a.pdf", "stored");
  XVBookmarkLib::ShareBookmarkLib()->addBookmark(old, "/a.pdf");
  auto lib = restart();
  // The next run starts its identifiers again within the same second.
  XVBaseFunction::setClockForTesting([] { return QDateTime(QDate(2016, 12, 31), QTime(12, 59, 59)); });
  const auto fresh = mark("/a.pdf", "fresh");
  ASSERT_EQ(fresh->ID(), old->ID());

  lib->addBookmark(fresh, "/a.pdf");
  EXPECT_NE(fresh->ID(), old->ID());
  EXPECT_EQ(fresh->ID().size(), 27);
  EXPECT_EQ(lib->bookmarkByID(old->ID())->name(), "stored");
  EXPECT_EQ(lib->bookmarkByID(fresh->ID()), fresh);
  EXPECT_EQ(lib->gropByFilePath("/a.pdf")->bookmarkIDArray(), QStringList({fresh->ID(), old->ID()}));
  EXPECT_EQ(restart()->gropAtIndex(0)->bookmarkCount(), 2);
}

TEST_F(BookmarkLib, DecodingDropsIdentifiersWithoutABookmark) {
  const auto b = [](const char* id, const char* name) {
    return QJsonObject{{"BOOKMARK_ID_KEY", id}, {"BOOKMARK_FILE_PATH_KEY", "/a.pdf"}, {"BOOKMARK_NAME_KEY", name},
                       {"BOOKMARK_PAGE_INDEX_KEY", 3}};
  };
  const QJsonObject lib{
      {"BOOK_MARK_LIB_MARK_DIC_KEY",
       QJsonObject{{"bookmark_1", b("bookmark_1", "one")},
                   // Filed under a key that is not its identifier: found by its identifier.
                   {"misfiled", b("bookmark_2", "two")},
                   {"bookmark_3", QJsonObject{{"BOOKMARK_NAME_KEY", "no id"}}},
                   {"bookmark_4", "not an object"}}},
      {"BOOK_MARK_LIB_GROP_ARRAY_KEY",
       QJsonArray{QJsonObject{{"GROP_FILE_PATH_KEY", "/a.pdf"},
                              {"GROP_NAME_KEY", "a.pdf"},
                              {"GROP_MARK_ARRAY_KEY",
                               QJsonArray{"bookmark_9", "bookmark_2", "bookmark_3", "bookmark_1", "bookmark_2",
                                          "bookmark_4", 5}}}}}};
  store(QString::fromUtf8(QJsonDocument(lib).toJson()));

  foundation::ScopedLogCapture log;
  auto decoded = XVBookmarkLib::ShareBookmarkLib();
  const auto grop = decoded->gropByFilePath("/a.pdf");
  ASSERT_TRUE(grop);
  EXPECT_EQ(grop->bookmarkIDArray(), QStringList({"bookmark_2", "bookmark_1"}));
  EXPECT_EQ(decoded->bookmarkByID("bookmark_2")->name(), "two");
  EXPECT_EQ(decoded->bookmarkByID("bookmark_1")->pageIndex(), 3);
  for (int i = 0; i < decoded->gropNonEmptyCount(); ++i) {
    const auto g = decoded->gropNonEmptyAtIndex(i);
    for (int j = 0; j < g->bookmarkCount(); ++j) EXPECT_TRUE(decoded->bookmarkByID(g->bookmarkIDByIndex(j)));
  }
  EXPECT_TRUE(log.contains("bookmark_3"));
}

TEST_F(BookmarkLib, UnreadableStoredDataIsSetAsideAndAnEmptyLibraryUsed) {
  const char* cases[] = {"not json at all", "[1, 2]", R"({"BOOK_MARK_LIB_MARK_DIC_KEY": 3})",
                         R"({"BOOK_MARK_LIB_GROP_ARRAY_KEY": []})"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    XVBaseFunction::releaseAppEndObjects();
    XVBaseFunction::userDefaults()->clear();
    store(text);
    foundation::ScopedLogCapture log;
    auto lib = XVBookmarkLib::ShareBookmarkLib();
    EXPECT_EQ(lib->gropCount(), 0);
    EXPECT_TRUE(log.contains("cannot be read"));
    lib->addBookmark(mark("/a.pdf", "new"), "/a.pdf");
    EXPECT_EQ(storedText("BOOK_MARK_LIB_KEY_unreadable"), text);
    EXPECT_EQ(restart()->gropCount(), 1);
  }
}

TEST_F(BookmarkLib, AbsentArgumentsAndOutOfRangeIndexesAreIgnored) {
  XVBookmarkLib lib;
  EXPECT_FALSE(lib.addGrop(""));
  EXPECT_FALSE(lib.gropByFilePath(""));
  EXPECT_FALSE(lib.gropAtIndex(0));
  lib.addBookmark(nullptr, "/a.pdf");
  lib.removeBookmark(nullptr);
  lib.clearBookmarkByGrop(nullptr);
  lib.removeGropByIndex(0);
  EXPECT_EQ(lib.gropCount(), 0);
  EXPECT_FALSE(lib.bookmarkByID(""));

  XVBookmarkGrop grop("/x/y.pdf");
  grop.addBookmarkID("");
  grop.addBookmarkID("a");
  grop.addBookmarkID("b");
  grop.addBookmarkID("a");
  EXPECT_EQ(grop.bookmarkIDArray(), QStringList({"a", "b", "a"}));
  for (qsizetype i : {qsizetype(-1), qsizetype(3)}) {
    EXPECT_TRUE(grop.bookmarkIDByIndex(i).isNull()) << i;
    grop.removeBookmarkIDByIndex(i);
  }
  EXPECT_EQ(grop.bookmarkCount(), 3);
  grop.removeBookmarkID("a");
  EXPECT_EQ(grop.bookmarkIDArray(), QStringList({"b"}));
  grop.removeBookmarkIDByIndex(0);
  EXPECT_EQ(grop.bookmarkCount(), 0);
  EXPECT_TRUE(XVBookmarkGrop("").name().isEmpty());
}

TEST_F(BookmarkLib, BrowserAddsANamedBookmarkWithItsDefaultName) {
  struct Case {
    const char* path;
    qint64 page;
    const char* name;
  } cases[] = {{"/d/Report.final.pdf", 4, "Report.final_5"},
               {"/d/notes", 0, "notes_1"},
               {"/d/.hidden", 9, ".hidden_10"},
               {"/d/v1.2/plan.vsdx", 1, "plan_2"}};
  for (const auto& c : cases) EXPECT_EQ(XVBookmarkDefaultName(c.path, c.page), c.name) << c.path;

  auto lib = XVBookmarkLib::ShareBookmarkLib();
  EXPECT_FALSE(lib->addBookmarkNamed("", "/d/a.pdf", 1));
  EXPECT_FALSE(lib->addBookmarkNamed("x", "", 1));
  EXPECT_EQ(lib->gropCount(), 0);
  const auto m = lib->addBookmarkNamed("a_2", "/d/a.pdf", 1);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->filePath(), "/d/a.pdf");
  EXPECT_EQ(m->pageIndex(), 1);
  EXPECT_EQ(restart()->bookmarkByID(m->ID())->name(), "a_2");
}

}  // namespace
