# One place for the settings every target of ours shares.
add_library(courier_settings INTERFACE)
target_compile_features(courier_settings INTERFACE cxx_std_17)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(courier_settings INTERFACE -Wall -Wextra -Wformat -Werror=format)
endif()
target_compile_definitions(courier_settings INTERFACE
  QT_DEPRECATED_WARNINGS QT_NO_FOREACH UNICODE _UNICODE)

# Sanitizer builds: -DCOURIER_SANITIZE=address,undefined or -DCOURIER_SANITIZE=thread
set(COURIER_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(COURIER_SANITIZE)
  add_compile_options(-fsanitize=${COURIER_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${COURIER_SANITIZE})
endif()
