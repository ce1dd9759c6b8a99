# One place for the settings every target of ours shares.
add_library(courier_settings INTERFACE)
target_compile_features(courier_settings INTERFACE cxx_std_17)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(courier_settings INTERFACE -Wall -Wextra -Wformat -Werror=format)
endif()
# Texts are QStringLiteral or QLatin1String, never an implicit conversion from 8-bit text whose
# encoding nobody chose, and a chain of + builds its string once. The winsim suites feed the stand-in
# command lines and names as plain 8-bit test data: they set COURIER_ASCII_CASTS to keep the conversion.
target_compile_definitions(courier_settings INTERFACE
  QT_DEPRECATED_WARNINGS QT_NO_FOREACH
  $<$<NOT:$<BOOL:$<TARGET_PROPERTY:COURIER_ASCII_CASTS>>>:QT_NO_CAST_FROM_ASCII>
  QT_USE_QSTRINGBUILDER UNICODE _UNICODE)

# Sanitizer builds: -DCOURIER_SANITIZE=address,undefined or -DCOURIER_SANITIZE=thread
set(COURIER_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(COURIER_SANITIZE)
  add_compile_options(-fsanitize=${COURIER_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${COURIER_SANITIZE})
endif()

# Build-time constants (one generated header every target can include).
set(COURIER_WINDOW_TITLE "VARN_01.22.05.03" CACHE STRING "Main window title")
set(COURIER_DRIVER_NAME "Varn VN-210K" CACHE STRING "The one supported printer driver")
set(COURIER_DRIVER_INF "Driver/VarnPtr.INF" CACHE STRING "Driver INF, relative to the program's folder")
set(COURIER_CLOUD_SERVICE_BASE "http://127.0.0.1:8765" CACHE STRING "Cloud print service: scheme, host, port")
configure_file(${CMAKE_CURRENT_LIST_DIR}/courierconstants.h.in
  ${CMAKE_BINARY_DIR}/generated/courierconstants.h @ONLY)
target_include_directories(courier_settings INTERFACE ${CMAKE_BINARY_DIR}/generated)
