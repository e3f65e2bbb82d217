#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unicode/locid.h>

#include <csignal>

#include "platform/foundation/log.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"
#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFStringEncoding.h"
#include "tnefkit/TnefKit.h"

using namespace testsupport;
using namespace std::string_literals;

namespace {

QFData bytes(std::string_view s) { return QFData(s.begin(), s.end()); }

std::string repeated(std::string_view s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

struct AttachmentFields {
  std::optional<std::string> title = std::nullopt;    // 0x8010, 8-bit
  std::optional<std::u16string> name = std::nullopt;  // 0x3707, Unicode
  std::optional<std::string> mime = std::nullopt;     // 0x370E, 8-bit
  std::string data = "payload";
};

std::shared_ptr<QFAttachment> makeAttachment(const AttachmentFields& s, std::shared_ptr<QFModifyFlag> flag = nullptr) {
  if (!flag) flag = std::make_shared<QFModifyFlag>(0x80);
  auto a = std::make_shared<QFAttachment>(flag);
  a->addAttrObject(QFAttrObject(2, 6, 0x9002, {}, flag));
  if (s.title) a->addAttrObject(QFAttrObject(2, 1, 0x8010, bytes(*s.title + '\0'), flag));
  a->addAttrObject(QFAttrObject(2, 6, 0x800F, bytes(s.data), flag));
  MapiBlock block;
  if (s.name) block.unicode(0x3707, *s.name);
  if (s.mime) block.string8(0x370E, *s.mime);
  a->addAttrObject(QFAttrObject(2, 6, 0x9005, bytes(block.bytes()), flag));
  return a;
}

class LocaleGuard {
 public:
  explicit LocaleGuard(const char* name) : saved_(icu::Locale::getDefault()) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(name), status);
  }
  ~LocaleGuard() {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(saved_, status);
  }

 private:
  icu::Locale saved_;
};

}  // namespace

TEST(Attachment, NamesAndExtensions) {
  struct Case {
    const char* label;
    AttachmentFields fields;
    std::string filename;
    std::optional<std::string> extension;
  } cases[] = {
      {"long name with dots", {.name = u"Report.final.PDF"}, "Report.final", "PDF"},
      {"long name beats title", {.title = "REPORT~1.DOC", .name = u"report 2024.docx"}, "report 2024", "docx"},
      {"title only", {.title = "a.txt"}, "a", "txt"},
      {"no name, MIME", {.mime = "image/png"}, "Untitled", "png"},
      {"no name, MIME in capitals", {.mime = "IMAGE/JPEG"}, "Untitled", "jpg"},
      {"no extension, MIME", {.title = "AUTHORS", .mime = "text/plain"}, "AUTHORS", "txt"},
      {"bytes of unknown kind", {.title = "AUTHORS", .mime = "application/octet-stream"}, "AUTHORS", std::nullopt},
      {"unknown MIME", {.title = "x", .mime = "application/x-never-heard-of"}, "x", std::nullopt},
      {"nothing", {}, "Untitled", std::nullopt},
      {"path in the name", {.name = u"..\\..\\windows/system32/evil.exe"}, "evil", "exe"},
      {"only dots", {.title = ".."}, "Untitled", std::nullopt},
      {"control characters", {.title = "a\x01\tb\x7F.txt"}, "ab", "txt"},
      {"dot runs", {.title = "a..b...txt"}, "a.b", "txt"},
      // Cut to 255 bytes right after a dot: no ".." in front of the extension.
      {"long name cut at a dot", {.title = std::string(250, 'a') + "." + std::string(10, 'b') + ".pdf"},
       std::string(250, 'a'), "pdf"},
      {"long name of dots and blanks", {.title = repeated(". ", 200) + "x.pdf"}, "Untitled", "pdf"},
  };
  for (const auto& c : cases) {
    auto a = makeAttachment(c.fields);
    EXPECT_EQ(a->filename(), c.filename) << c.label;
    EXPECT_EQ(a->extension(), c.extension) << c.label;
  }
}

TEST(Attachment, LongNamesKeepTheirExtensionWithinTheLimit) {
  std::u16string longName;
  for (int i = 0; i < 200; ++i) longName += u"\u00e9";  // two bytes each in UTF-8
  longName += u".pdf";
  auto a = makeAttachment({.name = longName, .data = "x"});
  const std::string name = a->filename() + "." + a->extension().value_or("");
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(a->extension(), "pdf");
  EXPECT_EQ(a->filename().size() % 2, 0u);  // no character cut in half
  // Both copies fit the file system's limit, the numbered one included.
  TempDir dir;
  std::filesystem::path first, second;
  ASSERT_TRUE(a->writeToFile(dir / name, &first));
  ASSERT_TRUE(a->writeToFile(dir / name, &second));
  EXPECT_NE(first, second);
  EXPECT_LE(second.filename().string().size(), 255u);
  EXPECT_EQ(second.extension(), ".pdf");
  EXPECT_NE(second.filename().string().find(" (2)"), std::string::npos);
}

TEST(Attachment, RecordsAndPropertiesFillTheFields) {
  auto flag = std::make_shared<QFModifyFlag>(0x80);
  QFAttachment a(flag);
  a.addAttrObject(QFAttrObject(2, 1, 0x8010, bytes("a.txt\0"s), flag));
  a.addAttrObject(QFAttrObject(2, 6, 0x800F, bytes("record data"), flag));
  a.addAttrObject(QFAttrObject(2, 3, 0x8013, bytes(le16(2020) + le16(1) + le16(2) + le16(3) + le16(4) + le16(5) + le16(6)), flag));
  EXPECT_EQ(a.fileTitle(), "a.txt");
  ASSERT_TRUE(a.modifyDate());
  EXPECT_EQ(a.modifyDate()->description(), "Sunday 2020-01-02 03:04:05");
  a.addAttrObject(QFAttrObject(2, 6, 0x9005,
                               bytes(MapiBlock()
                                         .binary(0x3701, "property data")
                                         .unicode(0x370E, u"image/png")
                                         .string8(0x3712, "cid@1")
                                         .bytes()),
                               flag));
  // The later source replaces the earlier one; a MIME tag stored as 16-bit text keeps its last letter.
  EXPECT_EQ(std::string(a.fileData().begin(), a.fileData().end()), "property data");
  EXPECT_EQ(a.mimeType(), "image/png");
  EXPECT_EQ(a.contentID(), "cid@1");
  a.addAttrObject(QFAttrObject(2, 3, 0x8013, bytes("short"), flag));
  EXPECT_EQ(a.modifyDate(), nullptr);
}

TEST(Attachment, CreationAndModificationTimes) {
  using namespace std::chrono;
  const auto flag = std::make_shared<QFModifyFlag>(0x80);
  const auto sysTime = [](std::uint16_t id, std::uint64_t ticks, std::uint16_t type = 0x0040) {
    return MapiBlock().property(type, id).raw(le32(std::uint32_t(ticks)) + le32(std::uint32_t(ticks >> 32))).bytes();
  };
  const auto at = [](std::int64_t secs, std::int64_t ns = 0) {
    return system_clock::time_point(duration_cast<system_clock::duration>(seconds(secs) + nanoseconds(ns)));
  };
  struct Case {
    const char* what;
    std::uint16_t id;
    std::uint64_t ticks;
    std::uint16_t type;
    std::optional<system_clock::time_point> want;
  } cases[] = {
      {"modified", 0x3008, 0x01CF8C722CF73428, 0x0040, at(1403260022, 559236000)},
      {"created", 0x3007, 0x01CF8C722CF73428, 0x0040, at(1403260022, 559236000)},
      {"the epoch", 0x3008, 116444736000000000, 0x0040, at(0)},
      {"zero: none", 0x3008, 0, 0x0040, std::nullopt},
      {"1601: beyond the clock", 0x3008, 1, 0x0040, std::nullopt},
      {"the last tick: beyond the clock", 0x3008, ~std::uint64_t{0}, 0x0040, std::nullopt},
      {"not a time", 0x3008, 0x01CF8C722CF73428, 0x0014, std::nullopt},
  };
  for (const Case& c : cases) {
    QFAttachment a(flag);
    a.addAttrObject(QFAttrObject(2, 6, 0x9005, bytes(sysTime(c.id, c.ticks, c.type)), flag));
    EXPECT_EQ(c.id == 0x3008 ? a.lastModificationTime() : a.creationTime(), c.want) << c.what;
    EXPECT_EQ(c.id == 0x3008 ? a.creationTime() : a.lastModificationTime(), std::nullopt) << c.what;
  }
  QFAttachment a(flag);
  a.addAttrObject(QFAttrObject(2, 3, 0x8012, bytes(le16(1999) + le16(10) + le16(13) + le16(22) + le16(49) + le16(46) + le16(3)), flag));
  ASSERT_TRUE(a.createDate());
  EXPECT_EQ(a.createDate()->description(), "Thursday 1999-10-13 22:49:46");
  EXPECT_EQ(a.modifyDate(), nullptr);
}

TEST(Attachment, WritesExactBytesWithoutEverReplacingAFile) {
  TempDir dir;
  auto a = makeAttachment({.name = u"Report.final.PDF", .data = "%PDF-1.4 bytes"});
  foundation::ScopedLogCapture log;
  std::filesystem::path first, second;
  ASSERT_TRUE(a->writeToFile(dir / "Report.final.PDF", &first));
  EXPECT_TRUE(log.contains("Warning: file extension(PDF) not match (PDF)"));
  EXPECT_EQ(first, dir / "Report.final.PDF");
  EXPECT_EQ(readFile(first), "%PDF-1.4 bytes");
  struct stat st {};
  ASSERT_EQ(::stat(first.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // A second attachment of the same name is written beside the first.
  ASSERT_TRUE(makeAttachment({.name = u"Report.final.PDF", .data = "other"})->writeToFile(dir / "Report.final.PDF", &second));
  EXPECT_EQ(second, dir / "Report.final (2).PDF");
  EXPECT_EQ(readFile(first), "%PDF-1.4 bytes");
  EXPECT_EQ(readFile(second), "other");

  // A link in the way is neither followed nor replaced.
  const auto outside = dir.write("outside/target.txt", "keep");
  std::filesystem::create_directory(dir / "out");
  std::filesystem::create_symlink(outside, dir / "out" / "note.txt");
  std::filesystem::path third;
  ASSERT_TRUE(makeAttachment({.title = "note.txt", .data = "new"})->writeToFile(dir / "out" / "note.txt", &third));
  EXPECT_EQ(third, dir / "out" / "note (2).txt");
  EXPECT_EQ(readFile(outside), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "out" / "note.txt"));

  // A name from the container cannot leave the folder.
  std::filesystem::path fourth;
  auto evil = makeAttachment({.name = u"../../escape.txt", .data = "x"});
  ASSERT_TRUE(evil->writeToFile(dir / "out" / (evil->filename() + "." + *evil->extension()), &fourth));
  EXPECT_EQ(fourth, dir / "out" / "escape.txt");
  // The folder the caller named, not more (kept inside the test's own folder).
  std::filesystem::create_directory(dir / "out" / "sub");
  ASSERT_TRUE(evil->writeToFile(dir / "out" / "sub" / "../../escape.txt", &fourth));
  EXPECT_EQ(fourth.parent_path(), dir / "out" / "sub" / "../..");
  EXPECT_TRUE(std::filesystem::equivalent(fourth.parent_path(), dir.path()));
  EXPECT_EQ(readFile(dir / "escape.txt"), "x");
}

TEST(Attachment, ManyAttachmentsOfOneNameAreAllWritten) {
  // Nameless attachments of one MIME type all want "Untitled.png".
  TempDir dir;
  dir.write("Untitled.png", "");
  for (int n = 2; n <= 10000; ++n) dir.write("Untitled (" + std::to_string(n) + ").png", "");
  auto a = makeAttachment({.mime = "image/png", .data = "png bytes"});
  std::filesystem::path written;
  ASSERT_TRUE(a->writeToFile(dir / "Untitled.png", &written));
  EXPECT_EQ(written, dir / "Untitled (10001).png");
  ASSERT_TRUE(a->writeToFile(dir / "Untitled.png", &written));
  EXPECT_EQ(written, dir / "Untitled (10002).png");
  EXPECT_EQ(readFile(written), "png bytes");
  // A freed number below is taken again once the numbers above it are gone.
  std::filesystem::remove(dir / "Untitled (10002).png");
  std::filesystem::remove(dir / "Untitled (10001).png");
  std::filesystem::remove(dir / "Untitled (7).png");
  ASSERT_TRUE(a->writeToFile(dir / "Untitled.png", &written));
  EXPECT_EQ(written, dir / "Untitled (7).png");
}

TEST(Attachment, EmptyDataAndFailedWrites) {
  TempDir dir;
  foundation::ScopedLogCapture log;
  auto empty = makeAttachment({.title = "CONFIG.SYS", .data = ""});
  EXPECT_FALSE(empty->writeToFile(dir / "CONFIG.SYS"));
  EXPECT_TRUE(log.contains("File data size is zero for attachment: CONFIG"));
  EXPECT_TRUE(std::filesystem::exists(dir / "CONFIG.SYS"));
  EXPECT_EQ(std::filesystem::file_size(dir / "CONFIG.SYS"), 0u);

  auto a = makeAttachment({.title = "big.bin", .data = std::string(64 * 1024, 'x')});
  EXPECT_FALSE(a->writeToFile(dir / "missing" / "big.bin"));

  // A write cut short by the file-size limit leaves nothing behind.
  std::filesystem::create_directory(dir / "limited");
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = a->writeToFile(dir / "limited" / "big.bin");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "limited"));
}

TEST(MessageBody, TypeInfo) {
  struct Case {
    std::int32_t type;
    const char* ext;
    const char* mime;
    char mark;
  } cases[] = {{0, "txt", "text/plain", 't'}, {1, "html", "text/html", 'h'}, {2, "rtf", "text/rtf", 'r'},
               {7, "unknown", "text/unknown", 'u'}};
  for (const auto& c : cases) {
    QFMessageBodyTypeInfo info(c.type);
    EXPECT_EQ(info.extension(), c.ext);
    EXPECT_EQ(info.description(), c.mime);
    EXPECT_EQ(info.markFlag(), c.mark);
  }
}

TEST(MessageBody, WritesByType) {
  TempDir dir;
  foundation::ScopedLogCapture log;
  QFMessageBody html(1, {bytes("<p>"), bytes("hi</p>")});
  std::filesystem::path written;
  ASSERT_TRUE(html.writeToFile(dir / "x.txt", &written));
  EXPECT_EQ(written, dir / "x.html");
  EXPECT_EQ(readFile(written), "<p>hi</p>");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.txt"));
  EXPECT_TRUE(log.contains("Warning file extension not match message body type. Would change .txt to .html"));

  QFMessageBody rtf(2, {bytes(lzfuLiterals("{\\rtf1 ok}"))});
  ASSERT_TRUE(rtf.writeToFile(dir / "message body 2.rtf", &written));
  EXPECT_EQ(readFile(written), "{\\rtf1 ok}");

  // Never replaces: the file stays as it was.
  EXPECT_FALSE(html.writeToFile(dir / "x.html"));
  EXPECT_TRUE(log.contains("file exists"));
  EXPECT_EQ(readFile(dir / "x.html"), "<p>hi</p>");
}

TEST(MessageBody, ABodyThatDecodesToNothingWritesNoFile) {
  std::string badCrc = lzfuLiterals("{\\rtf1 ok}");
  badCrc.back() ^= 0x40;
  struct Case {
    const char* label;
    QFMessageBody body;
  } cases[] = {
      {"no blocks", QFMessageBody(2, {})},
      {"not an RTF stream", QFMessageBody(2, {bytes("plain words, no header")})},
      {"unknown compression", QFMessageBody(2, {bytes(le32(12) + le32(0) + "ABCD" + le32(0))})},
      {"CRC fails", QFMessageBody(2, {bytes(badCrc)})},
      {"ends at once", QFMessageBody(2, {bytes(lzfuStream("\x01\x0C\xF0"s, 50))})},
      {"empty HTML", QFMessageBody(1, {QFData()})},
      {"empty text", QFMessageBody(0, {})},
  };
  TempDir dir;
  for (const auto& c : cases) {
    foundation::ScopedLogCapture log;
    const auto path = dir / (std::string(c.label) + "." + c.body.messageBodyTypeInfo().extension());
    EXPECT_FALSE(c.body.writeToFile(path)) << c.label;
    EXPECT_FALSE(std::filesystem::exists(path)) << c.label;
    EXPECT_TRUE(log.contains("Message body is empty.")) << c.label;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(TextEncoding, ContainerCodePageThenUtf8ThenLocale) {
  struct Case {
    const char* locale;
    std::uint32_t codePage;
    std::string in;
    std::string out;
  } cases[] = {
      {"en_US", 1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"en_US", 932, "\x83\x65\x83\x58\x83\x67", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
      {"en_US", 0, "d\xC3\xA9j\xC3\xA0", "d\xC3\xA9j\xC3\xA0"},  // valid UTF-8 stays
      {"fr_FR", 0, "caf\xE9", "caf\xC3\xA9"},
      {"de_DE", 0, "Gr\xFC\xDF" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
      {"nl_NL", 0, "\x80", "\xE2\x82\xAC"},
      {"ko_KR", 0, "\xC7\xD1", "\xED\x95\x9C"},
      {"zh_TW", 0, "\xA4\xA4", "\xE4\xB8\xAD"},
      {"zh_CN", 0, "\xD6\xD0", "\xE4\xB8\xAD"},
      {"ja_JP", 0, "\x93\xFA", "\xE6\x97\xA5"},
      {"en_US", 99999, "caf\xE9", "caf\xC3\xA9"},  // an unknown code page falls back
      {"en_US", 28602, "caf\xE9", "caf\xC3\xA9"},  // in the ISO range, but no such converter
  };
  for (const auto& c : cases) {
    LocaleGuard locale(c.locale);
    EXPECT_EQ(QFStringEncoding::decode(bytes(c.in), c.codePage), c.out) << c.locale << " " << c.codePage;
  }
  LocaleGuard locale("en_US");
  // Undecodable bytes are substituted, never an error.
  EXPECT_FALSE(QFStringEncoding::decode(bytes("\xFF\xFE\x81"), 932).empty());
}

TEST(TextEncoding, NamesAndPlainTextUseTheContainerCodePage) {
  LocaleGuard locale("en_US");
  auto flag = std::make_shared<QFModifyFlag>(0x80);
  auto a = makeAttachment({.title = "\xD2\xE5\xF1\xF2.txt"}, flag);
  QFMessageBody body(0, {bytes("\xD2\xE5\xF1\xF2\0"s)}, flag);
  flag->setOEMCodePage(1251);
  EXPECT_EQ(a->filename(), "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82");
  EXPECT_EQ(body.textBody(), "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82");
  TempDir dir;
  std::filesystem::path written;
  ASSERT_TRUE(body.writeToFile(dir / "message body 1.txt", &written));
  EXPECT_EQ(readFile(written), "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82");
  // Unicode names stay as they are whatever the code page.
  EXPECT_EQ(makeAttachment({.name = u"\u00e9t\u00e9.txt"}, flag)->filename(), "\xC3\xA9t\xC3\xA9");
}
