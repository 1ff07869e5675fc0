# Windows shortcuts read and written as bytes: no OS calls, so the Windows
# build's tests can use it too.
if(NOT TARGET quavelle_shelllink)
  add_library(quavelle_shelllink STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ItemIdList.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellLink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Windows1252.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowsPath.cpp)
  target_link_libraries(quavelle_shelllink PUBLIC quavelle_contracts PRIVATE quavelle_options)
endif()
