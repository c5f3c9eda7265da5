# kivdemo.exe: the demo secondary setup, which reports the command line and trailer it is given.
# Normal start-up code and msvcrt; it only has to stay small, not tiny. No -fdata-sections:
# with it MinGW stores zero-initialised statics in .data$name, the 96 KB report buffer with them.
add_executable(kivdemo tools/kivdemo/kivdemo.cpp tools/kivdemo/kivdemo.rc)
add_dependencies(kivdemo setup_icon)
set_target_properties(kivdemo PROPERTIES OUTPUT_NAME kivdemo SUFFIX .exe)
target_compile_options(kivdemo PRIVATE $<$<COMPILE_LANGUAGE:CXX>:
  -Os -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables
  -ffunction-sections -fno-ident -Wall -Wextra -Werror>)
# windres finds setup.ico in the build directory.
target_include_directories(kivdemo PRIVATE ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/tools/kivdemo)
set_source_files_properties(tools/kivdemo/kivdemo.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/setup.ico;${CMAKE_SOURCE_DIR}/tools/kivdemo/kivdemo_resource.h")
target_link_options(kivdemo PRIVATE -mwindows -s -static-libgcc -Wl,--gc-sections)
target_link_libraries(kivdemo PRIVATE kernel32 user32 gdi32)
