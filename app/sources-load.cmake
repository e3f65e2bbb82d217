# The document load manager.
list(APPEND LECTERN_CORE_SOURCES
  shell/XVDocumentLoadManager.cpp
)
