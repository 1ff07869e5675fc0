# Project-wide compile options, linked PRIVATE into our own targets only.
add_library(quavelle_warnings INTERFACE)
target_compile_options(quavelle_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)

add_library(quavelle_sanitizers INTERFACE)
if(QUAVELLE_SANITIZE)
  target_compile_options(quavelle_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(quavelle_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

add_library(quavelle_options INTERFACE)
target_link_libraries(quavelle_options INTERFACE quavelle_warnings quavelle_sanitizers)
