# Release checks, registered in the Windows (x86_64) build, whose CTest run
# scripts/test.sh does after building all three builds:
#   release_packages       scripts/release.sh --no-build (installer, zip, checks)
#   release_install_check  tests/release/check-install.sh (silent install and
#                          uninstall under Wine in a prefix of its own)
# The build folder is the parent of this CMake build folder (build/win64 ->
# build), where the release script finds build/win32 and build/native.
get_filename_component(KAV_RELEASE_BUILD_ROOT ${CMAKE_BINARY_DIR} DIRECTORY)
get_filename_component(KAV_RELEASE_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)

add_test(NAME release_packages
  COMMAND bash ${KAV_RELEASE_SOURCE_ROOT}/scripts/release.sh --no-build
  WORKING_DIRECTORY ${KAV_RELEASE_SOURCE_ROOT})
set_tests_properties(release_packages PROPERTIES
  ENVIRONMENT "KAV_BUILD_DIR=${KAV_RELEASE_BUILD_ROOT}"
  FIXTURES_SETUP kav_release
  RUN_SERIAL TRUE
  TIMEOUT 600)

add_test(NAME release_install_check
  COMMAND bash ${KAV_RELEASE_SOURCE_ROOT}/tests/release/check-install.sh
  WORKING_DIRECTORY ${KAV_RELEASE_SOURCE_ROOT})
set_tests_properties(release_install_check PROPERTIES
  ENVIRONMENT "KAV_BUILD_DIR=${KAV_RELEASE_BUILD_ROOT}"
  FIXTURES_REQUIRED kav_release
  RUN_SERIAL TRUE
  TIMEOUT 900)
