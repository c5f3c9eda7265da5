# kivpack's tests beyond the unit tests: a CMake project that makes its package with the
# installed KivSetup package, and kivpack.exe building a package under Wine.
if(TARGET kivpack)
  add_test(NAME kivpack.consumer_project
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/consumer/consumer_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(kivpack.consumer_project PROPERTIES TIMEOUT 300)
endif()

# kivpack.exe stands beside the stub of the same Windows build. It shares the one Wine prefix
# with the end-to-end cases, and so their lock.
find_program(KIV_WINE wine)
if(KIV_WINE AND TARGET kivpack AND KIV_STUB_IMAGE)
  get_filename_component(KIV_WIN32_DIR ${KIV_STUB_IMAGE} DIRECTORY)
  add_test(NAME kivpack.windows_exe COMMAND sh ${CMAKE_SOURCE_DIR}/tests/wine/kivpack_exe.sh)
  set_tests_properties(kivpack.windows_exe PROPERTIES RESOURCE_LOCK wine TIMEOUT 300
    ENVIRONMENT "KIV_WIN32_DIR=${KIV_WIN32_DIR};KIV_HOST_DIR=${CMAKE_BINARY_DIR}")
endif()
