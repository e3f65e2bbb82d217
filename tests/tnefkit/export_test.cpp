// TnefKit exports its public interface and keeps the decoders hidden; the public headers need
// no internal one (this file sees only them).
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "tnefkit/TnefKit.h"

TEST(TnefKitExports, OnlyThePublicInterfaceLeavesTheLibrary) {
  for (const char* name : {"QFBytesPerGUID", "QFNumberOfBytesForData4", "QFParserFlagStart", "QFParserFlagProgress",
                           "QFParserFlagComplete", "QFParserResultCodeFailed", "QFParserResultCodeSuccess",
                           "TnefKitVersionNumber", "TnefKitVersionString", "QFMonday", "QFSunday",
                           "_Z11uint32ValuePKv", "_Z11uint16ValuePKv",
                           "_ZN12QFTNEFFormat11initWithURLERKNSt10filesystem7__cxx114pathE"})
    EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  for (const char* name : {"_ZN12QFAttachment13addAttrObjectE12QFAttrObject",
                           "_ZN12QFAttrObject18initWithFileHandleEP12QFFileHandleSt10shared_ptrI12QFModifyFlagE",
                           "_ZN11QFRTFParser11generateCRCEPKhmj", "_Z10readUint32St4spanIKhLm18446744073709551615EE",
                           "_ZN12QFTNEFFormat19hasValidateDataLeftER12QFFileHandle",
                           "_ZN7tnefkit19setParseBudgetFloorEm"})
    EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;

  // The exported readers, constants and entry points work through the shared library.
  const std::uint8_t bytes[] = {0x78, 0x9F, 0x3E, 0x22};
  EXPECT_EQ(uint32Value(bytes), 0x223E9F78u);
  EXPECT_EQ(uint16Value(bytes + 2), 0x223Eu);
  EXPECT_EQ(QFParserFlagComplete, 2);
  EXPECT_EQ(QFParserResultCodeFailed, -1);
  EXPECT_STREQ(QFWednessday, "Wednessday");
  EXPECT_EQ(QFTNEFFormat::initWithURL(""), nullptr);
  const std::uint8_t date[14] = {0xE4, 0x07, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 2, 0};
  const auto parsed = QFDate::initWithData(date);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->year(), 2020);
  EXPECT_EQ(parsed->weekday(), "Wednessday");
}
