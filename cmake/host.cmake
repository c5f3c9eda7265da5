# The host build: the same logic on Linux against the host layer, kivpack, tests, benchmark.
option(KIV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(KIV_STUB_IMAGE "" CACHE FILEPATH "The stub image kivpack embeds (build/win32/Setup.exe)")

# No _FILE_OFFSET_BITS: off_t is 64 bits here already, and the define would rename the
# stream calls (fopen64) past the test wrappers.
add_compile_options(-Wall -Wextra -U_FORTIFY_SOURCE)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
# Asserts state invariants; they stay on in host builds.
string(REPLACE "-DNDEBUG" "" CMAKE_CXX_FLAGS_RELWITHDEBINFO "${CMAKE_CXX_FLAGS_RELWITHDEBINFO}")
string(REPLACE "-DNDEBUG" "" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
if(KIV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(kiv_core STATIC ${KIV_CORE_SOURCES})
target_include_directories(kiv_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)

add_library(kiv_host STATIC platform/host/host_api.cpp)
target_include_directories(kiv_host PUBLIC ${CMAKE_SOURCE_DIR}/platform)
target_link_libraries(kiv_core PUBLIC kiv_host)

# Stream calls that tests can make fail; linked into tests only.
set(KIV_WRAPPED_CALLS fopen fread fwrite fclose remove fseeko fseek ferror)
set(KIV_WRAP_OPTIONS "")
foreach(call ${KIV_WRAPPED_CALLS})
  list(APPEND KIV_WRAP_OPTIONS "-Wl,--wrap=${call}")
endforeach()
add_library(kiv_faults OBJECT platform/host/stream_faults.cpp)
target_include_directories(kiv_faults PUBLIC ${CMAKE_SOURCE_DIR}/platform)

enable_testing()
include(cmake/kivpack.cmake OPTIONAL)
include(cmake/tests.cmake OPTIONAL)
include(cmake/kivpack_tests.cmake OPTIONAL)
include(cmake/wine_tests.cmake OPTIONAL)
include(cmake/bench.cmake OPTIONAL)
include(cmake/extract_bench.cmake)
include(cmake/fuzz.cmake OPTIONAL)
