# The end-to-end cases under Wine, one ctest test each, run one at a time in the one prefix.
find_program(KIV_WINE wine)
if(KIV_WINE AND KIV_STUB_IMAGE AND TARGET kivpack)
  get_filename_component(KIV_WIN32_DIR ${KIV_STUB_IMAGE} DIRECTORY)
  execute_process(COMMAND sh ${CMAKE_SOURCE_DIR}/tests/wine/cases.sh list
                  OUTPUT_VARIABLE KIV_WINE_CASES OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(KIV_WINE_CASES)
  foreach(case ${KIV_WINE_CASES})
    add_test(NAME wine.${case} COMMAND sh ${CMAKE_SOURCE_DIR}/tests/wine/cases.sh ${case})
    set_tests_properties(wine.${case} PROPERTIES RESOURCE_LOCK wine TIMEOUT 300
      ENVIRONMENT "KIV_WIN32_DIR=${KIV_WIN32_DIR};KIV_HOST_DIR=${CMAKE_BINARY_DIR}")
  endforeach()
endif()
