# Warnings travel on an INTERFACE target, so each library opts in and no directory-wide flags leak
# into third-party code (GoogleTest, Qt's generated sources).
add_library(pagorin_warnings INTERFACE)
target_compile_options(pagorin_warnings INTERFACE -Wall -Wextra)
if(PAGORIN_WARNINGS_AS_ERRORS)
  target_compile_options(pagorin_warnings INTERFACE -Werror)
endif()

add_library(pagorin_sanitizers INTERFACE)
if(PAGORIN_SANITIZE)
  target_compile_options(pagorin_sanitizers INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                      -fno-sanitize-recover=undefined)
  target_link_options(pagorin_sanitizers INTERFACE -fsanitize=address,undefined)
endif()
if(PAGORIN_THREAD_SANITIZE)
  target_compile_options(pagorin_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(pagorin_sanitizers INTERFACE -fsanitize=thread)
endif()
if(PAGORIN_FUZZ)
  # Coverage for libFuzzer in every library a fuzz target links.
  target_compile_options(pagorin_sanitizers INTERFACE -fsanitize=fuzzer-no-link)
endif()
