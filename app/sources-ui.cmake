# Main window, browser, tab strip and small controls.
list(APPEND LECTERN_CORE_SOURCES
  shell/XVShellLogic.cpp
  shell/XVRecentDocuments.cpp
)
if(LECTERN_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Gui Widgets Network Svg)
  list(APPEND LECTERN_GUI_SOURCES
    shell/XVControls.cpp
    shell/XVAbout.cpp
    shell/XVTab.cpp
    shell/XVBrowserControl.cpp
    shell/AppDelegate.cpp
    shell/XVSingleInstance.cpp
    ${PROJECT_SOURCE_DIR}/resources/lectern.qrc
  )
  list(APPEND LECTERN_GUI_LIBS Qt6::Widgets Qt6::Network Qt6::Svg)
endif()

if(LECTERN_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/com.velmar.lectern.desktop DESTINATION share/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/com.velmar.lectern.xml DESTINATION share/mime/packages)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/images/app_icon.svg DESTINATION share/icons/hicolor/scalable/apps
          RENAME com.velmar.lectern.svg)
endif()
