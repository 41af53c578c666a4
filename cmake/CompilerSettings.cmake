# One interface target carries the language standard, warnings and sanitizer flags;
# every target of ours links it.
add_library(vellumark_settings INTERFACE)
target_compile_features(vellumark_settings INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(vellumark_settings INTERFACE -Wall -Wextra -Werror)
# GCC 12 at -O3 (Release) reports overlapping copies inside std::string's operator+ that
# cannot happen (a known false positive of its -Wrestrict); later versions do not.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(vellumark_settings INTERFACE -Wno-restrict)
endif()
target_compile_definitions(vellumark_settings INTERFACE _FILE_OFFSET_BITS=64)

if(VELLUMARK_SANITIZE)
  target_compile_options(vellumark_settings INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(vellumark_settings INTERFACE -fsanitize=address,undefined)
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()
