#include "core/ProductInfo.h"

#include <gtest/gtest.h>

#include "core/XVBaseFunction.h"

TEST(ProductInfo, IdentityAndAddresses) {
  EXPECT_EQ(ProductInfo::AppName(), "Velmar Lectern");
  EXPECT_EQ(ProductInfo::Version(), "3.1.0");
  EXPECT_TRUE(ProductInfo::ProductInfoWebPageUrlString().isValid());
  EXPECT_TRUE(ProductInfo::ProductSupportWebPageUrlString().isValid());
  EXPECT_NE(ProductInfo::ProductInfoWebPageUrlString(), ProductInfo::ProductSupportWebPageUrlString());
}

TEST(ProductInfo, ListsKeepOrderAndCase) {
  const QStringList all = ProductInfo::SupportImportFilesExtension();
  // The open panel and the entry test read this order and this spelling.
  EXPECT_EQ(all, (QStringList{"dat", "pdf", "djvu", "vsd", "vsdx", "vdx", "vst", "vss", "vtx", "vsx",
                              "xps", "oxps", "wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3", "wk4",
                              "wk5", "Wq1", "Wq2", "Wtf", "wpd", "wp", "wp4", "wp5", "wp6", "wp7"}));
  EXPECT_EQ(ProductInfo::XPSSupportImportFilesExtension(), (QStringList{"vsx", "xps", "oxps"}));
  EXPECT_EQ(ProductInfo::WPSSupportImportFilesExtension(),
            (QStringList{"wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3", "wk4", "wk5", "Wq1", "Wq2", "Wtf"}));
  EXPECT_EQ(ProductInfo::WPDSupportImportFilesExtension(), (QStringList{"wpd", "wp", "wp4", "wp5", "wp6", "wp7"}));
  EXPECT_EQ(ProductInfo::VisioSupportImportFilesExtension(),
            (QStringList{"vsd", "vsdx", "vdx", "vst", "vss", "vtx", "vsx"}));
  EXPECT_EQ(ProductInfo::DXFSupportImportFilesExtension(), QStringList{"dxf"});
  // Every per-format list except DXF is contained in the full list.
  for (const QStringList& l :
       {ProductInfo::XPSSupportImportFilesExtension(), ProductInfo::WPSSupportImportFilesExtension(),
        ProductInfo::WPDSupportImportFilesExtension(), ProductInfo::DjvuSupportImportFilesExtension(),
        ProductInfo::PDFSupportImportFilesExtension(), ProductInfo::WinmailSupportImportFilesExtension(),
        ProductInfo::VisioSupportImportFilesExtension()}) {
    for (const QString& e : l) EXPECT_TRUE(all.contains(e)) << e.toStdString();
  }
}

TEST(ProductInfo, EntryTestIgnoresCase) {
  struct Case {
    const char* ext;
    bool supported;
  } cases[] = {{"pdf", true}, {"PDF", true}, {"DAT", true}, {"wq1", true}, {"WTF", true},
               {"Vsdx", true}, {"dxf", false}, {"txt", false}, {"", false}, {"pd", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(XVBaseFunction::xpsFileExtensionIsSupport(QString::fromLatin1(c.ext)), c.supported) << c.ext;
  }
  EXPECT_FALSE(XVBaseFunction::xpsFileExtensionIsSupport(QString()));
}
