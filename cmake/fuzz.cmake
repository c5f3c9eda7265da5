# The fuzz targets built with the host compiler and replay_main.cpp instead of libFuzzer: each
# re-runs its corpus, fuzz/corpus/<target>/, as a test. fuzz/run.sh builds the fuzzing kind.
set(KIV_FUZZ_TARGETS decoder_fuzz roundtrip_fuzz)
set(KIV_FUZZ_LIBS_decoder_fuzz kiv_core)
set(KIV_FUZZ_LIBS_roundtrip_fuzz kivpack_lib kiv_core)

foreach(target ${KIV_FUZZ_TARGETS})
  string(REGEX REPLACE "_fuzz$" "" corpus ${target})
  add_executable(${target}_replay fuzz/${target}.cpp fuzz/replay_main.cpp)
  target_include_directories(${target}_replay PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/tools/kivpack ${CMAKE_SOURCE_DIR}/fuzz)
  target_link_libraries(${target}_replay PRIVATE ${KIV_FUZZ_LIBS_${target}})
  add_test(NAME fuzz_replay_${corpus} COMMAND ${target}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${corpus})
endforeach()
