# Bookmark library and the bookmark manager window.
list(APPEND LECTERN_CORE_SOURCES shell/XVBookmarkLib.cpp)
