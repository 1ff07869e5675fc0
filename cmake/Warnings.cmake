# Project-wide compile options, linked PRIVATE into our own targets only.
add_library(quavelle_warnings INTERFACE)
if(MSVC)
  # Native Windows builds with MSVC. CI builds only with GCC and
  # mingw-w64, so its own extra warnings are shown but not made errors.
  target_compile_options(quavelle_warnings INTERFACE /W4 /permissive- /utf-8 /Zc:__cplusplus)
else()
  target_compile_options(quavelle_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
endif()

add_library(quavelle_sanitizers INTERFACE)
if(QUAVELLE_SANITIZE)
  target_compile_options(quavelle_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(quavelle_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

add_library(quavelle_options INTERFACE)
target_link_libraries(quavelle_options INTERFACE quavelle_warnings quavelle_sanitizers)
