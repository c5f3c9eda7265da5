# Host unit tests (GoogleTest) and the end-to-end cases under Wine.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB KIV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${KIV_UNIT_TEST_SOURCES} $<TARGET_OBJECTS:kiv_faults>)
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
target_link_libraries(unit_tests PRIVATE kiv_core kiv_host GTest::gtest GTest::gtest_main)
if(TARGET kivpack_lib)
  target_link_libraries(unit_tests PRIVATE kivpack_lib)
endif()
target_link_options(unit_tests PRIVATE ${KIV_WRAP_OPTIONS})
target_compile_definitions(unit_tests PRIVATE
  KIV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KIV_BINARY_DIR="${CMAKE_BINARY_DIR}")
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

if(KIV_STUB_IMAGE)
  add_test(NAME stub.image COMMAND sh ${CMAKE_SOURCE_DIR}/tests/stub_image.sh ${KIV_STUB_IMAGE})
endif()
