# The 32-bit Windows programs: the stub Setup.exe, the demo secondary setup, kivpack.exe.
enable_language(RC)

set(KIV_STUB_COMPILE_OPTIONS
  -Os -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables
  -fno-unwind-tables -ffunction-sections -fno-ident -fno-stack-protector
  -Wall -Wextra -Werror)
# No -fdata-sections: the toolchain would then give zero-filled statics room in the file.
# No start-up code and no C++ runtime: the entry point is ours, and a stray `new` or
# exception fails to link.
set(KIV_STUB_LINK_OPTIONS
  -mwindows -s -nostdlib -nostartfiles -Wl,--gc-sections -Wl,-e,_WinMainCRTStartup)
set(KIV_STUB_LIBRARIES kernel32 user32 gdi32 msvcrt gcc)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/setup.ico
  COMMAND perl ${CMAKE_SOURCE_DIR}/resources/make_ico.pl
          ${CMAKE_SOURCE_DIR}/resources/setup_icon.txt ${CMAKE_BINARY_DIR}/setup.ico
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_ico.pl ${CMAKE_SOURCE_DIR}/resources/setup_icon.txt)
add_custom_target(setup_icon DEPENDS ${CMAKE_BINARY_DIR}/setup.ico)

add_executable(Setup ${KIV_CORE_SOURCES} platform/win32/entry.cpp resources/setup.rc)
add_dependencies(Setup setup_icon)
set_target_properties(Setup PROPERTIES OUTPUT_NAME Setup SUFFIX .exe)
target_compile_options(Setup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KIV_STUB_COMPILE_OPTIONS}>)
target_include_directories(Setup PRIVATE ${CMAKE_SOURCE_DIR})
set_source_files_properties(resources/setup.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/setup.ico;${CMAKE_SOURCE_DIR}/resources/resource.h")
target_include_directories(Setup PRIVATE ${CMAKE_BINARY_DIR})
target_link_options(Setup PRIVATE ${KIV_STUB_LINK_OPTIONS})
target_link_libraries(Setup PRIVATE ${KIV_STUB_LIBRARIES})

include(cmake/win32_kivdemo.cmake OPTIONAL)
include(cmake/win32_kivpack.cmake OPTIONAL)
