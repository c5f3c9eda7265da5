# Benchmarks: figures measured side by side in one run, never timed tests. `kiv_bench` builds
# every one; bench/run_bench.sh runs them. A benchmark joins with kiv_add_bench(NAME SOURCES... LIBS ...).
find_package(ZLIB REQUIRED)

add_custom_target(kiv_bench)

function(kiv_add_bench name)
  cmake_parse_arguments(BENCH "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${BENCH_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
  target_link_libraries(${name} PRIVATE ${BENCH_LIBS})
  add_dependencies(kiv_bench ${name})
endfunction()

kiv_add_bench(stream_bench SOURCES bench/stream_bench.cpp LIBS kivpack_lib kiv_core ZLIB::ZLIB)
