# Native (Linux) build: the portable core with sanitizers, its unit tests,
# the switcher simulator and the other host tools.
option(KAV_SANITIZE "Build the core and its tests with ASan and UBSan" ON)
if(KAV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
add_compile_options(-Wall -Wextra)

add_library(kav_core STATIC ${KAV_CORE_SOURCES})
target_include_directories(kav_core PUBLIC ${CMAKE_SOURCE_DIR})

add_subdirectory(tools)

if(KAV_BUILD_TESTS)
  find_package(GTest REQUIRED)
  file(GLOB KAV_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
  add_executable(core_tests ${KAV_NATIVE_TESTS})
  target_link_libraries(core_tests PRIVATE kav_core GTest::gtest GTest::gtest_main pthread)
  add_test(NAME core_tests COMMAND core_tests)
  set_tests_properties(core_tests PROPERTIES TIMEOUT 300)
endif()

# The shell scripts: they parse, and a run under Wine starts the same way for
# the 32-bit program and its 64-bit twin (stub loaders play Wine).
add_test(NAME scripts_wine_env COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/wine_env_test.sh)
set_tests_properties(scripts_wine_env PROPERTIES TIMEOUT 120)
