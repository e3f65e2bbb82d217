# The EMF metafile library: an object library, linked into DiagramKit (which exports only the
# GDI-named C functions) and into the tests, which reach the internals.
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
target_include_directories(diagramkit_emf PUBLIC ${DIAGRAMKIT_PUBLIC_INCLUDE} ${DIAGRAMKIT_INTERNAL_INCLUDE})
target_link_libraries(diagramkit_emf PUBLIC Lectern::foundation Threads::Threads)
