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

TEST(ProductInfo, ExportFormatListsBySourceExtension) {
  auto names = [](const QList<Format>& formats) {
    QStringList n;
    for (const Format& f : formats) n << f.formatName();
    return n;
  };
  const QStringList general{"PDF", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"};
  const QStringList works{"PDF", "RTFD", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"};
  EXPECT_EQ(names(ProductInfo::SupportSaveFormats()), general);
  struct Case {
    const char* ext;
    QStringList formats;
  };
  const Case cases[] = {{"xps", general},
                        {"oxps", general},
                        {"djvu", general},
                        {"wps", works},
                        {"wq2", works},
                        {"WP5", works},
                        {"wpd", works},
                        {"pdf", {"TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"}},
                        {"", general}};
  for (const Case& c : cases) EXPECT_EQ(names(ProductInfo::SupportSaveFormats(c.ext)), c.formats) << c.ext;
  EXPECT_EQ(names(ProductInfo::SupportExtractFormats()), (QStringList{"PNG", "JPEG", "BMP", "GIF", "TIFF"}));
  for (const Format& f : ProductInfo::SupportSaveFormats("wps")) EXPECT_FALSE(f.isNull());
  EXPECT_FALSE(ProductInfo::ImportHasProgress("wpd"));
  EXPECT_FALSE(ProductInfo::ImportHasProgress("vsdx"));
  EXPECT_FALSE(ProductInfo::ImportHasProgress("pdf"));
  EXPECT_TRUE(ProductInfo::ImportHasProgress("xps"));
  EXPECT_TRUE(ProductInfo::ImportHasProgress("djvu"));
}
