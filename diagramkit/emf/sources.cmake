# The EMF metafile library: built as an object library so its tests can reach the internals,
# and linked into DiagramKit, which exports only the GDI-named C functions.
add_library(diagramkit_emf OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/datastream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/devicecontext.cpp
  ${CMAKE_CURRENT_LIST_DIR}/edit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/objects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/play.cpp
  ${CMAKE_CURRENT_LIST_DIR}/records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/svg.cpp
)
target_include_directories(diagramkit_emf PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(diagramkit_emf PUBLIC Lectern::foundation Threads::Threads)
list(APPEND DIAGRAMKIT_SOURCES $<TARGET_OBJECTS:diagramkit_emf>)
