# kivpack: the packaging tool. Its library (encoder, package commands) is shared with the tests.
file(GLOB KIVPACK_LIB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/kivpack/*.cpp)
list(FILTER KIVPACK_LIB_SOURCES EXCLUDE REGEX "/main\\.cpp$")

# The stub of the same build, embedded so that one kivpack binary is enough.
set(KIV_STUB_CPP ${CMAKE_BINARY_DIR}/stub_image.cpp)
if(KIV_STUB_IMAGE)
  add_custom_command(OUTPUT ${KIV_STUB_CPP}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${KIV_STUB_IMAGE} -DOUTPUT=${KIV_STUB_CPP} -DNAME=kStubImage
            -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${KIV_STUB_IMAGE} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake)
else()
  file(WRITE ${KIV_STUB_CPP}.in
    "#include <stddef.h>\nextern const unsigned char kStubImage[] = {0};\nextern const size_t kStubImage_size = 0;\n")
  configure_file(${KIV_STUB_CPP}.in ${KIV_STUB_CPP} COPYONLY)
endif()

add_library(kivpack_lib STATIC ${KIVPACK_LIB_SOURCES} ${KIV_STUB_CPP})
target_include_directories(kivpack_lib PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tools/kivpack)
target_link_libraries(kivpack_lib PUBLIC kiv_core)
target_compile_definitions(kivpack_lib PUBLIC KIV_VERSION="${PROJECT_VERSION}")

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/kivpack/main.cpp)
  add_executable(kivpack tools/kivpack/main.cpp)
  target_link_libraries(kivpack PRIVATE kivpack_lib)
endif()

# Installed together: the tool, the stub it embeds (for STUB arguments and for signing
# workflows that want the bare image), and the CMake package offering kiv_add_setup_package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(KIV_CMAKE_INSTALL_DIR lib/cmake/KivSetup)
set(KIV_STUB_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/kivsetup)
if(TARGET kivpack)
  install(TARGETS kivpack EXPORT KivSetupTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(EXPORT KivSetupTargets NAMESPACE KivSetup:: DESTINATION ${KIV_CMAKE_INSTALL_DIR})
endif()
if(KIV_STUB_IMAGE)
  install(FILES ${KIV_STUB_IMAGE} DESTINATION ${KIV_STUB_INSTALL_DIR} RENAME Setup.exe)
endif()
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/KivSetupConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KivSetupConfig.cmake
  INSTALL_DESTINATION ${KIV_CMAKE_INSTALL_DIR}
  PATH_VARS KIV_STUB_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KivSetupConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KivSetupConfig.cmake ${CMAKE_BINARY_DIR}/KivSetupConfigVersion.cmake
  DESTINATION ${KIV_CMAKE_INSTALL_DIR})
