# SPDX-License-Identifier: MIT
# The XDG base folders, looked up in one place: plain C++, no Qt, so that
# the stores and the settings alike can use it.
add_library(quillo_xdg STATIC ${CMAKE_CURRENT_LIST_DIR}/xdg.cpp ${CMAKE_CURRENT_LIST_DIR}/xdg.h)
target_include_directories(quillo_xdg PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quillo_xdg PRIVATE quillo_warnings)
set_target_properties(quillo_xdg PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
