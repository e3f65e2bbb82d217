# Visio to PDF: libvisio pages as SVG, rendered by librsvg onto cairo PDF pages, assembled by
# qpdf; the VSDX pre-processor (libzip, libwmf, the EMF library). An object library, linked
# into DiagramKit and into the tests, which reach the internals.
pkg_check_modules(DK_ENGINE REQUIRED IMPORTED_TARGET
  libvisio-0.1 librevenge-0.0 librevenge-stream-0.0 librsvg-2.0 cairo cairo-pdf libqpdf libxml-2.0 libzip libwmf)
add_library(diagramkit_engine OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/MakePDF.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Metafiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreProcessVSDX.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageGenerator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageSimplify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RenderThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SVG2PDF.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PangoTextMeasurer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VSDXPackage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VSDXRenderer.cpp
)
target_include_directories(diagramkit_engine PUBLIC ${DIAGRAMKIT_PUBLIC_INCLUDE} ${DIAGRAMKIT_INTERNAL_INCLUDE})
target_link_libraries(diagramkit_engine PUBLIC Lectern::foundation Threads::Threads PRIVATE PkgConfig::DK_ENGINE)
# The own VSDX renderer: the package read in place, texts measured with Pango.
pkg_check_modules(DK_VSDX REQUIRED IMPORTED_TARGET libzip pangocairo)
target_link_libraries(diagramkit_engine PRIVATE PkgConfig::DK_VSDX)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # qpdf's JSON.hh keeps a vector of an incomplete type, which clang refuses as C++20.
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/MakePDF.cpp PROPERTIES COMPILE_OPTIONS -std=c++17)
endif()
