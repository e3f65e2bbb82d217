# Shared compile settings, sanitizer flags and test helpers.

add_compile_options(-Wall -Wextra)
if(LECTERN_WERROR)
  add_compile_options(-Werror)
endif()

if(LECTERN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(LECTERN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT LECTERN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "LECTERN_SANITIZE must be empty, address or thread")
endif()

# The fuzz build: everything it compiles is code under test, so all of it carries libFuzzer's
# coverage instrumentation and ASan + UBSan; only the harnesses link libFuzzer itself.
if(LECTERN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "LECTERN_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(NOT LECTERN_SANITIZE STREQUAL "")
    message(FATAL_ERROR "LECTERN_FUZZ brings its own sanitizers; leave LECTERN_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(GTest REQUIRED)
include(GoogleTest)

set_property(GLOBAL PROPERTY LECTERN_TSAN_TESTS "")

# lectern_add_test(NAME SOURCES ... [LIBS ...] [GUI] [TSAN] [TIMEOUT s])
#   One GoogleTest binary registered as one ctest test; after its last test every worker thread
#   must have ended.
#   GUI: needs Qt Widgets (skipped in builds without the GUI).
#   TSAN: also part of the ThreadSanitizer run (target lectern_tsan_tests).
function(lectern_add_test name)
  cmake_parse_arguments(T "GUI;TSAN" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(T_GUI AND NOT LECTERN_BUILD_GUI)
    return()
  endif()
  if(LECTERN_SANITIZE STREQUAL "thread" AND NOT T_TSAN)
    return()
  endif()
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/worker_threads_check.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} Lectern::foundation GTest::gtest GTest::gtest_main GTest::gmock
                                        Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE LECTERN_CORPUS_DIR="${LECTERN_CORPUS_DIR}"
                                              LECTERN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(T_TSAN)
    set_property(GLOBAL APPEND PROPERTY LECTERN_TSAN_TESTS ${name})
  endif()
endfunction()

# lectern_add_fuzz_target(NAME SOURCES ... [LIBS ...] [CORPUS dir ...])
#   The source defines LLVMFuzzerTestOneInput. Built as a regression runner over the corpus
#   folders (registered with ctest); with LECTERN_FUZZ also as a libFuzzer binary, whose seed
#   folders are listed in fuzz-seeds/NAME.txt under the build folder (read by scripts/fuzz).
function(lectern_add_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;CORPUS" ${ARGN})
  if(LECTERN_SANITIZE STREQUAL "thread")
    return()
  endif()
  add_executable(${name}_regress ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_driver.cpp)
  target_link_libraries(${name}_regress PRIVATE ${F_LIBS} Lectern::foundation)
  target_include_directories(${name}_regress PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name}_corpus COMMAND ${name}_regress ${F_CORPUS})
  set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 600)
  if(LECTERN_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    list(JOIN F_CORPUS "\n" seeds)
    file(WRITE ${CMAKE_BINARY_DIR}/fuzz-seeds/${name}.txt "${seeds}\n")
    set_property(GLOBAL APPEND PROPERTY LECTERN_FUZZ_TARGETS ${name})
  endif()
endfunction()

function(lectern_finish_test_groups)
  get_property(tsan_tests GLOBAL PROPERTY LECTERN_TSAN_TESTS)
  add_custom_target(lectern_tsan_tests)
  if(tsan_tests)
    add_dependencies(lectern_tsan_tests ${tsan_tests})
  endif()
  get_property(fuzz_targets GLOBAL PROPERTY LECTERN_FUZZ_TARGETS)
  if(fuzz_targets)
    add_custom_target(lectern_fuzz_targets DEPENDS ${fuzz_targets})
  endif()
endfunction()

# lectern_add_plugin(NAME SOURCES ... [LIBS ...])
#   A plugin: the shared object NAME.so that foundation::pluginSymbol loads the first time it is
#   asked for. Built into the build tree's plugin folder, installed into lib/lectern; it finds
#   the project's libraries in lib. Outside the sanitizer builds every symbol it uses must
#   resolve when it is linked.
function(lectern_add_plugin name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${LECTERN_PLUGIN_BUILD_DIR}
                                           INSTALL_RPATH "$ORIGIN/.." LECTERN_PLUGIN ON)
  if(NOT LECTERN_SANITIZE AND NOT LECTERN_FUZZ)
    target_link_options(${name} PRIVATE LINKER:--no-undefined)
  endif()
  install(TARGETS ${name} LIBRARY DESTINATION lib/lectern)
endfunction()
