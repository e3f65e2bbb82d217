# Installs the build into a fresh prefix and checks what a desktop needs of it: the program
# starts from there (its libraries and plugins resolve), and the desktop entry, MIME package and icon are
# in place; and what a program using the libraries needs: their installed headers, which are
# their public interface alone, build and link against the prefix by themselves.
# Arguments: -DBUILD_DIR=... -DPREFIX=... -DCXX=... -DPLUGINS=NAME,NAME,...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${err}")
endif()
foreach(file bin/lectern share/applications/com.velmar.lectern.desktop
             share/mime/packages/com.velmar.lectern.xml share/icons/hicolor/scalable/apps/com.velmar.lectern.svg)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND ldd "${PREFIX}/bin/lectern" OUTPUT_VARIABLE libraries RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR libraries MATCHES "not found")
  message(FATAL_ERROR "the installed program cannot load its libraries:\n${libraries}")
endif()
# The plugins, loaded by name from lib/lectern/, find their libraries there too.
string(REPLACE "," ";" plugins "${PLUGINS}")
foreach(plugin ${plugins})
  set(file "${PREFIX}/lib/lectern/${plugin}.so")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "plugin not installed: lib/lectern/${plugin}.so")
  endif()
  execute_process(COMMAND ldd "${file}" OUTPUT_VARIABLE libraries RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR libraries MATCHES "not found")
    message(FATAL_ERROR "the installed plugin ${plugin} cannot load its libraries:\n${libraries}")
  endif()
endforeach()
find_program(UPDATE_MIME update-mime-database)
if(UPDATE_MIME)
  execute_process(COMMAND "${UPDATE_MIME}" "${PREFIX}/share/mime" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR err MATCHES "[Ee]rror")
    message(FATAL_ERROR "the MIME package is not accepted: ${err}")
  endif()
endif()

foreach(internal tnefkit/QFAttrObject.h tnefkit/QFFileHandle.h tnefkit/parse_budget.h diagramkit/engine/PageFile.h
                 diagramkit/engine/MakePDF.h diagramkit/emf/records.h diagramkit/emf/devicecontext.h)
  if(EXISTS "${PREFIX}/include/${internal}")
    message(FATAL_ERROR "an internal header is installed: ${internal}")
  endif()
endforeach()
file(WRITE "${PREFIX}/consumer.cpp" [=[
#include "diagramkit/emf/emf.h"
#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "tnefkit/TnefKit.h"
int main() {
  const unsigned char bytes[] = {0x78, 0x9F, 0x3E, 0x22};
  if (uint32Value(bytes) != 0x223E9F78u || QFParserFlagComplete != 2) return 1;
  if (QFTNEFFormat::initWithURL("") != nullptr) return 2;
  if (GetStockObject(4) != 0x80000004u) return 3;
  if (isSupport("/nonexistent/drawing.vsd")) return 4;
  return 0;
}
]=])
execute_process(COMMAND "${CXX}" -std=c++20 "${PREFIX}/consumer.cpp" -I "${PREFIX}/include" -L "${PREFIX}/lib"
                        -lTnefKit -lDiagramKit -llectern-foundation "-Wl,-rpath,${PREFIX}/lib" -o "${PREFIX}/consumer"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "a program cannot be built on the installed libraries alone:\n${err}")
endif()
execute_process(COMMAND "${PREFIX}/consumer" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the program built on the installed libraries fails: ${rc}")
endif()
