# Installs the build into a fresh prefix and checks what a desktop needs of it: the program
# starts from there (its libraries resolve), and the desktop entry, MIME package and icon are
# in place. Arguments: -DBUILD_DIR=... -DPREFIX=...
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
find_program(UPDATE_MIME update-mime-database)
if(UPDATE_MIME)
  execute_process(COMMAND "${UPDATE_MIME}" "${PREFIX}/share/mime" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR err MATCHES "[Ee]rror")
    message(FATAL_ERROR "the MIME package is not accepted: ${err}")
  endif()
endif()
