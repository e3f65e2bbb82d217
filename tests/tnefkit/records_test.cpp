#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include "platform/foundation/log.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"
#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFFileHandle.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/payload.h"

using namespace testsupport;
using namespace std::string_literals;

namespace {

QFData bytesOf(std::string_view s) { return QFData(s.begin(), s.end()); }

std::string recordBytes(std::uint8_t level, std::uint32_t attribute, std::string_view data, std::uint16_t checksum) {
  return std::string(1, char(level)) + le32(attribute) + le32(static_cast<std::uint32_t>(data.size())) +
         std::string(data) + le16(checksum);
}

}  // namespace

TEST(TnefReaders, LittleEndianValuesAndZeroOnShortData) {
  const QFData d = {0x78, 0x9F, 0x3E, 0x22};
  EXPECT_EQ(uint32Value(d.data()), 0x223E9F78u);
  EXPECT_EQ(uint16Value(d.data()), 0x9F78u);
  EXPECT_EQ(readUint32(d), 0x223E9F78u);
  EXPECT_EQ(readUint32(QFBytes(d).first(3)), 0u);
  EXPECT_EQ(readUint16(QFBytes(d).first(1)), 0u);
  EXPECT_EQ(readUint8(QFBytes()), 0u);

  TempDir dir;
  auto handle = QFFileHandle::fileHandleForReadingAtPath(dir.write("f", std::string("\x01\x02\x03", 3)));
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->readUint16(), 0x0201u);
  EXPECT_EQ(handle->readUint32(), 0u);  // one byte left: reads it, answers 0
  EXPECT_EQ(handle->offsetInFile(), 3u);
  EXPECT_EQ(handle->bytesRemaining(), 0u);
  EXPECT_EQ(QFFileHandle::fileHandleForReadingAtPath(dir / "none"), nullptr);
  EXPECT_EQ(QFFileHandle::fileHandleForReadingAtPath(dir.path()), nullptr);

  // A FIFO is refused at once rather than waiting for a writer that never comes.
  const auto fifo = dir / "pipe.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto opened = std::make_shared<std::promise<bool>>();
  auto answer = opened->get_future();
  std::thread([opened, fifo] { opened->set_value(QFFileHandle::fileHandleForReadingAtPath(fifo) != nullptr); })
      .detach();
  ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(answer.get());
}

TEST(TnefReaders, SumsAndDigestsDoNotDependOnHowTheBytesAreCut) {
  std::string mixed(3001, '\0');
  for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<char>(i * 131 + i / 7);
  for (const std::string& data : {mixed, std::string(5000, '\xFF'), std::string("\x01\x80\xFF", 3)}) {
    SCOPED_TRACE(data.size());
    const QFBytes all(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    std::uint16_t plain = 0;
    for (unsigned char c : data) plain = static_cast<std::uint16_t>(plain + c);
    EXPECT_EQ(tnefkit::byteSum(all), plain);
    tnefkit::Digest whole;
    whole.add(all);
    for (std::size_t cut = 0; cut <= data.size(); ++cut) {
      tnefkit::Digest two;
      two.add(all.first(cut));
      two.add(all.subspan(cut));
      ASSERT_EQ(two.value(), whole.value()) << cut;
      ASSERT_EQ(tnefkit::byteSum(all.subspan(cut), tnefkit::byteSum(all.first(cut))), plain) << cut;
    }
    for (std::size_t step : {1, 5, 31, 32, 33, 1000}) {
      tnefkit::Digest sliced;
      for (std::size_t at = 0; at < data.size(); at += step) sliced.add(all.subspan(at, std::min(step, data.size() - at)));
      EXPECT_EQ(sliced.value(), whole.value()) << step;
    }
  }
  // What a changed file shows: a flipped bit, two bytes swapped (the byte sum unchanged), a
  // byte more or less.
  tnefkit::Digest original;
  original.add(bytesOf(mixed));
  std::string flipped = mixed, swapped = mixed;
  flipped[1500] ^= 0x01;
  std::swap(swapped[10], swapped[11]);
  for (const std::string& other : {flipped, swapped, mixed + '\0', mixed.substr(1)}) {
    tnefkit::Digest d;
    d.add(bytesOf(other));
    EXPECT_NE(d.value(), original.value());
  }
}

TEST(TnefRecords, ReadsAndVerifiesOneRecord) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
    const char* message;
  } cases[] = {
      {"empty data, checksum 0", recordBytes(1, 0x00068004, "", 0), true, nullptr},
      {"sum truncated to 16 bits", recordBytes(2, 0x0006800F, "\xFF\xFF", 0x01FE), true, nullptr},
      {"checksum mismatch is kept", recordBytes(1, 0x00068004, "abc", 0x0001), true,
       "ERROR: invalid checksum, input file may be corrupted"},
      {"level 0", recordBytes(0, 0x00068004, "", 0), false, "Error object type or can't find tnef object."},
      {"level 3", recordBytes(3, 0x00068004, "", 0), false, "Error object type or can't find tnef object."},
      {"header cut short", std::string("\x01\x04\x80\x06", 4), false, "truncated attribute record"},
      {"length past the end", std::string(1, '\x01') + le32(0x0006800F) + le32(0xFFFFFFF0) + "abc", false,
       "truncated attribute record"},
      {"checksum word missing", std::string(1, '\x01') + le32(0x00068004) + le32(2) + "ab" + "\x01", false,
       "truncated attribute record"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    foundation::ScopedLogCapture log;
    auto handle = QFFileHandle::fileHandleForReadingAtPath(dir.write(c.name, c.bytes));
    auto record = QFAttrObject::initWithFileHandle(handle.get(), std::make_shared<QFModifyFlag>(0x80));
    EXPECT_EQ(record.has_value(), c.valid) << c.name;
    if (c.message) {
      EXPECT_TRUE(log.contains(c.message)) << c.name;
    }
  }
  auto handle = QFFileHandle::fileHandleForReadingAtPath(dir.write("ok", recordBytes(2, 0x0006800F, "\xFF\xFF", 0x01FE)));
  auto record = QFAttrObject::initWithFileHandle(handle.get(), nullptr);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->objectType(), 2);
  EXPECT_EQ(record->dateType(), 6);
  EXPECT_EQ(record->nameType(), 0x800F);
  EXPECT_EQ(record->objBuffer(), (QFData{0xFF, 0xFF}));
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(QFAttrObject::initWithFileHandle(nullptr, nullptr));
  EXPECT_TRUE(log.contains("Must be a filehandle for parser"));
}

TEST(TnefRecords, ChecksumDiagnosticNamesTheLastMatchingIndex) {
  foundation::ScopedLogCapture log;
  QFAttrObject record(1, 6, 0x8004, {}, std::make_shared<QFModifyFlag>(0x02));
  const QFData data = {1, 2, 3};
  EXPECT_FALSE(record.checksum(3, data));
  EXPECT_TRUE(log.contains("!!checksum error: length=3 sum=0006 checksum=0003 match=1"));
  EXPECT_TRUE(record.checksum(6, data));
}

TEST(TnefRecords, DescriptionsOfLargeRecordsStayShort) {
  // The attachment-level code page record is always described in the log, whatever its size.
  const std::size_t size = 4 << 20;
  struct Case {
    std::int32_t type;
    std::string data;
    const char* start;
  } cases[] = {
      {0, le16(1) + le16(0) + le16(3) + le16(0) + "Ann" + std::string(size, 'a'), "trpID: 1"},
      {1, std::string(size, 'a'), "aaaa"},
      {4, le16(7) + std::string(size, 'a'), "7\n[extra data: <61616161"},
      {6, std::string(size, 'a'), "<61616161 61616161"},
      {8, std::string(size, 'a'), "1633771873\t1633771873\t"},
  };
  for (const auto& c : cases) {
    QFAttrObject record(2, c.type, 0x9007, bytesOf(c.data));
    const std::string text = record.description();
    EXPECT_LT(text.size(), 2048u) << c.type;
    EXPECT_NE(text.find(c.start), std::string::npos) << c.type;
  }
  // Small data is shown whole.
  EXPECT_EQ(QFAttrObject(2, 6, 0x9007, {1, 2, 3, 4, 5}).description(),
            "(Attachment) OEM Codepage [type: byte] [length: 5] =\n\t<01020304 05>");
}

TEST(TnefValues, DateFieldsAndWeekdays) {
  auto date = [](std::int16_t weekday) {
    std::string b = le16(2024) + le16(2) + le16(29) + le16(13) + le16(5) + le16(9) + le16(static_cast<std::uint16_t>(weekday));
    return QFDate::initWithData(bytesOf(b));
  };
  auto d = date(1);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->weekday(), "Tuesday");
  EXPECT_EQ(d->description(), "Tuesday 2024-02-29 13:05:09");
  EXPECT_EQ(date(6)->weekday(), "Sunday");
  EXPECT_EQ(date(7)->weekday(), "");
  EXPECT_EQ(date(-1)->weekday(), "");
  ASSERT_TRUE(d->toNSDate());
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(d->toNSDate()->time_since_epoch()).count(), 1709211909);

  foundation::ScopedLogCapture log;
  EXPECT_EQ(d->valueAtIndex(7), 0);
  EXPECT_TRUE(log.contains("Error date component index(7>=7)"));
  EXPECT_EQ(QFDate::initWithData(QFData(13, 0)), nullptr);
  EXPECT_TRUE(log.contains("Error data for parser date."));
}

TEST(TnefValues, TripleStringsAndShortData) {
  auto t = QFTriple::initWithData(bytesOf(le16(1) + le16(0) + le16(4) + le16(9) + "Ann\0"s + "SMTP:ann@x"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->trpcch(), 4);
  EXPECT_EQ(t->senderDisplayName(), std::string("Ann\0", 4));
  EXPECT_EQ(t->senderAddress(), "SMTP:ann@x");
  EXPECT_EQ(QFTriple::initWithData(QFData(7, 0)), nullptr);

  foundation::ScopedLogCapture log;
  auto longName = QFTriple::initWithData(bytesOf(le16(1) + le16(0) + le16(50) + le16(0) + "abc"));
  ASSERT_TRUE(longName);
  EXPECT_EQ(longName->senderDisplayName(), "?");
  EXPECT_EQ(longName->senderAddress(), "?");
  EXPECT_TRUE(log.contains("Error triple data for sender display name"));
  EXPECT_TRUE(log.contains("Error triple data for sender address"));
  EXPECT_EQ(longName->valueAtIndex(4), 0);
  EXPECT_TRUE(log.contains("Error triple component index(4>4)"));
}

TEST(TnefValues, GuidLayoutAndNames) {
  const QFData raw = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 1, 2, 3, 4, 5, 6, 7, 8};
  auto g = QFGUID::initWithData(raw);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->data1(), 0x12345678u);
  EXPECT_EQ(g->data2(), 0x1234u);
  EXPECT_EQ(g->data3(), 0x5678u);
  EXPECT_EQ(g->data4()[7], 8);
  EXPECT_EQ(g->description(),
            "{ 0x12345678 0x1234 0x5678 { 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 }}");
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(QFGUID::initWithData(QFBytes(raw).first(15)));
  EXPECT_TRUE(log.contains("Error GUID data."));

  EXPECT_EQ(QFAttrObject::tnefNameTypeName(0x9002), "Attachment Rendering Data");
  EXPECT_EQ(QFAttrObject::tnefNameTypeName(0x1234), " ");
  EXPECT_EQ(QFAttrObject::tnefDataTypeName(9), "max");
  EXPECT_EQ(QFAttrObject::tnefDataTypeName(10), "");
  EXPECT_EQ(QFBytesPerGUID, 16);
  EXPECT_EQ(QFNumberOfBytesForData4, 8);
}

TEST(TnefValues, ModifyFlagBits) {
  QFModifyFlag parse(0x80);
  EXPECT_FALSE(parse.verboseOn() || parse.debugOn() || parse.listOnly() || parse.usePaths() ||
               parse.overwriteFiles() || parse.interactive() || parse.numberFiles());
  QFModifyFlag all(0x7F);
  EXPECT_TRUE(all.verboseOn() && all.debugOn() && all.listOnly() && all.usePaths() && all.overwriteFiles() &&
              all.interactive() && all.numberFiles());
  EXPECT_FALSE(all.showMime() || all.skipChecksum() || all.absolutePaths());
}
