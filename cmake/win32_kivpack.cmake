# kivpack.exe: the packaging tool for Windows, built from the host tool's sources and the
# portable code it links, with this build's Setup.exe embedded. A normal C++17 program with
# exceptions and the C++ library, linked statically so that it runs on its own.
file(GLOB KIVPACK_EXE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/kivpack/*.cpp)

# The portable code, compiled again as ordinary C++ and kept in a library, so that the linker
# takes only what the tool reaches: the trailer, the decoder, the extraction, the error report
# with the `bootstrap` it writes to, and WhileBusy, which the decoder and the block copy call.
add_library(kivpack_exe_core STATIC ${KIV_CORE_SOURCES})
target_include_directories(kivpack_exe_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
target_compile_options(kivpack_exe_core PRIVATE -O2 -Wall -Wextra)

set(KIVPACK_EXE_STUB_CPP ${CMAKE_BINARY_DIR}/kivpack_stub_image.cpp)
add_custom_command(OUTPUT ${KIVPACK_EXE_STUB_CPP}
  COMMAND ${CMAKE_COMMAND} -DINPUT=$<TARGET_FILE:Setup> -DOUTPUT=${KIVPACK_EXE_STUB_CPP}
          -DNAME=kStubImage -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS Setup ${CMAKE_SOURCE_DIR}/cmake/embed.cmake)

# CLI11 and nlohmann-json are header-only; the cross compiler sees them and nothing else of
# the build machine's /usr/include.
set(KIVPACK_EXE_HEADERS ${CMAKE_BINARY_DIR}/kivpack_headers)
file(MAKE_DIRECTORY ${KIVPACK_EXE_HEADERS})
foreach(library CLI nlohmann)
  if(NOT EXISTS ${KIVPACK_EXE_HEADERS}/${library})
    file(CREATE_LINK /usr/include/${library} ${KIVPACK_EXE_HEADERS}/${library} SYMBOLIC)
  endif()
endforeach()

add_executable(kivpack_exe ${KIVPACK_EXE_SOURCES} ${KIVPACK_EXE_STUB_CPP})
set_target_properties(kivpack_exe PROPERTIES OUTPUT_NAME kivpack SUFFIX .exe)
target_include_directories(kivpack_exe PRIVATE
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/tools/kivpack)
target_include_directories(kivpack_exe SYSTEM PRIVATE ${KIVPACK_EXE_HEADERS})
target_compile_definitions(kivpack_exe PRIVATE KIV_VERSION="${PROJECT_VERSION}")
target_compile_options(kivpack_exe PRIVATE -O2 -Wall -Wextra)
target_link_options(kivpack_exe PRIVATE -static -static-libgcc -static-libstdc++ -s)
target_link_libraries(kivpack_exe PRIVATE kivpack_exe_core kernel32 user32 gdi32)
