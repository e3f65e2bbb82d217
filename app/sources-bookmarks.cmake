# Bookmark library and the bookmark manager window.
list(APPEND LECTERN_CORE_SOURCES shell/XVBookmarkLib.cpp)
list(APPEND LECTERN_GUI_SOURCES shell/XVBookmarkControl.cpp)
