// DiagramKit exports the GDI names with C linkage and keeps the library's C++ internals hidden.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "diagramkit/emf/emf.h"

TEST(EmfExports, GdiNamesAreExportedAndInternalsAreNot) {
  for (const char* name : {"GetEnhMetaFileA", "GetEnhMetaFileW", "DeleteEnhMetaFile", "outputEnhMetaFile",
                           "CreateEnhMetaFileA", "CloseEnhMetaFile", "PlayEnhMetaFile", "SelectObject",
                           "Polyline16", "DeleteDC"})
    EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  for (const char* name : {"_ZN3EMF13globalObjectsE", "_ZN3EMF11findContextEj", "_ZN3EMF12libraryMutexEv"})
    EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  // The exported calls work through the shared library.
  EXPECT_EQ(GetStockObject(4), 0x80000004u);
  const HDC dc = CreateEnhMetaFileWithFILEA(0, nullptr, nullptr, nullptr);
  ASSERT_NE(dc, 0u);
  EXPECT_EQ(LineTo(dc, 1, 1), 1);
  EXPECT_EQ(DeleteDC(dc), 1);
}
