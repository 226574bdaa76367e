# The INI settings file (included by CMakeLists.txt). The text itself is read and written in
# standard C++ (settings/initext); the file replace and lock use Qt.
add_library(qmr_ini_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/systemsettingsstore.cpp ${CMAKE_CURRENT_LIST_DIR}/systemsettingsstore.h)
set_target_properties(qmr_ini_settings PROPERTIES AUTOMOC OFF)
target_link_libraries(qmr_ini_settings PUBLIC qmr_settings Qt6::Core)
