# The fuzz targets built with the host compiler and replay_main.cpp instead of libFuzzer: each
# re-runs its corpus, fuzz/corpus/<target>/, as a test. fuzz/run_fuzz.sh builds the fuzzing kind.
set(KIV_FUZZ_TARGETS decoder_fuzz roundtrip_fuzz trailer_fuzz extract_fuzz command_tail_fuzz
    inspect_fuzz)
set(KIV_FUZZ_LIBS_decoder_fuzz kiv_core)
set(KIV_FUZZ_LIBS_roundtrip_fuzz kivpack_lib kiv_core)
set(KIV_FUZZ_LIBS_trailer_fuzz kiv_core)
set(KIV_FUZZ_LIBS_extract_fuzz kiv_core)
set(KIV_FUZZ_LIBS_command_tail_fuzz kiv_core)
set(KIV_FUZZ_LIBS_inspect_fuzz kivpack_lib kiv_core)
# Targets that go through the wrapped stream calls: Windows-style paths, and a record of what
# was opened and removed.
set(KIV_FUZZ_WRAPPED extract_fuzz inspect_fuzz)

foreach(target ${KIV_FUZZ_TARGETS})
  string(REGEX REPLACE "_fuzz$" "" corpus ${target})
  add_executable(${target}_replay fuzz/${target}.cpp fuzz/replay_main.cpp)
  target_include_directories(${target}_replay PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/tools/kivpack ${CMAKE_SOURCE_DIR}/fuzz)
  target_link_libraries(${target}_replay PRIVATE ${KIV_FUZZ_LIBS_${target}})
  if(target IN_LIST KIV_FUZZ_WRAPPED)
    target_sources(${target}_replay PRIVATE $<TARGET_OBJECTS:kiv_faults>)
    target_link_options(${target}_replay PRIVATE ${KIV_WRAP_OPTIONS})
  endif()
  add_test(NAME fuzz_replay_${corpus} COMMAND ${target}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${corpus})
endforeach()
