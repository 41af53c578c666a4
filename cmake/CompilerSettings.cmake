# One interface target carries the language standard, warnings and sanitizer flags;
# every target of ours links it.
add_library(vellumark_settings INTERFACE)
target_compile_features(vellumark_settings INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(vellumark_settings INTERFACE -Wall -Wextra)
# Warnings fail the build for developers, the tests and CI. A packager building with
# another compiler version (whose new warnings are no fault of the package) turns it off.
option(VELLUMARK_WERROR "Treat compiler warnings as errors" ON)
if(VELLUMARK_WERROR)
  target_compile_options(vellumark_settings INTERFACE -Werror)
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
