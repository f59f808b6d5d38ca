# The application's own dialogs: the question box and the pop-up notice.
add_library(tavi_appwidgets STATIC
  ${CMAKE_CURRENT_LIST_DIR}/messagebox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/popwidget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tempheader.cpp)
target_include_directories(tavi_appwidgets PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(tavi_appwidgets PUBLIC tavi_ui Qt5::Widgets)
