// DiagramKit exports SVG2PDF and its plain functions and the VSDX pre-processor, and keeps the engine's helpers hidden.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "diagramkit/engine/SVG2PDF.h"

TEST(EngineExports, SVG2PDFAndItsFunctionsLeaveTheLibraryAndTheHelpersDoNot) {
  for (const char* name : {"_ZN7SVG2PDF11initWithSrcERKNSt10filesystem7__cxx114pathES4_PKv", "_ZN7SVG2PDF9createPDFEv",
                           "_Z13setVSDPageNumiPKv", "_Z21setEndPageVSD2PDFNotiiPKv", "_Z21setEndFileVSD2PDFNotiPKv",
                           "_Z17getVSDFilePageNumRKNSt10filesystem7__cxx114pathE", "_Z9isSupportRKNSt10filesystem7__cxx114pathE",
                           "_Z14preProcessVSDXRKNSt10filesystem7__cxx114pathE"})
    EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  for (const char* name :
       {"_Z14attrStrForNameB5cxx11PK8_xmlNodeSt17basic_string_viewIcSt11char_traitsIcEE",
        "_ZN10diagramkit13writePageFileERKNSt10filesystem7__cxx114pathESt17basic_string_viewIcSt11char_traitsIcEE",
        "_ZN7MakePDF8addToPdfER10PDFContextRKNSt10filesystem7__cxx114pathEPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
        "_ZN7SVG2PDF11loadVSDFileEv", "_Z7emf2svgPKcS0_", "_ZN12MyTempFolder11frameFolderEPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"})
    EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  EXPECT_FALSE(isSupport("/nonexistent/drawing.vsd"));
  EXPECT_EQ(getVSDFilePageNum("/nonexistent/drawing.vsd"), 0);
}
