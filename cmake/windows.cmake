# Windows build (mingw-w64): the program, its resources and the Win32 tests,
# which CTest runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_compile_options(-Wall -Wextra)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # SSE2 arithmetic instead of the x87 unit's extended precision, so that the
  # 32-bit program, its tests and tools compute floating point exactly as the
  # 64-bit twin does (every CPU that runs Windows 8 or later has SSE2).
  add_compile_options(-msse2 -mfpmath=sse)
endif()
set(KAV_STATIC_LINK -static -static-libgcc -static-libstdc++)

# Path of the native switcher simulator, for the Win32 tests that talk to it.
set(KAV_SIMULATOR "" CACHE FILEPATH "Native switcher simulator (built by the native build)")

add_library(kav_core STATIC ${KAV_CORE_SOURCES})
target_include_directories(kav_core PUBLIC ${CMAKE_SOURCE_DIR})

set(KAV_WIN_SOURCES)
foreach(m ${KAV_MODULES})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${m}/win/*.cpp)
  list(APPEND KAV_WIN_SOURCES ${_src})
endforeach()
list(REMOVE_ITEM KAV_WIN_SOURCES ${CMAKE_SOURCE_DIR}/app/win/WinMain.cpp)
set(KAV_WIN_LIBS comctl32 shell32 ole32 uuid advapi32 ws2_32 shlwapi gdi32 user32 kernel32 dbghelp psapi)
# The network remote's server uses Boost.Beast and Boost.Asio, header-only,
# from Debian's libboost1.74-dev. The cross compiler gets a folder of its own
# that holds only boost/ (never all of /usr/include), and only that one
# source file sees it.
set(KAV_BOOST_INCLUDE ${CMAKE_BINARY_DIR}/boost-include)
if(NOT EXISTS /usr/include/boost/beast/http.hpp)
  message(FATAL_ERROR "Boost headers missing: install libboost1.74-dev (scripts/setup.sh)")
endif()
file(MAKE_DIRECTORY ${KAV_BOOST_INCLUDE})
file(CREATE_LINK /usr/include/boost ${KAV_BOOST_INCLUDE}/boost SYMBOLIC)
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/win/HttpRemoteServer.cpp PROPERTIES
  COMPILE_OPTIONS "-isystem;${KAV_BOOST_INCLUDE}")

if(KAV_WIN_SOURCES)
  add_library(kav_win STATIC ${KAV_WIN_SOURCES})
  target_link_libraries(kav_win PUBLIC kav_core ${KAV_WIN_LIBS})
else()
  add_library(kav_win INTERFACE)
  target_link_libraries(kav_win INTERFACE kav_core ${KAV_WIN_LIBS})
endif()

# Resources (version, message table, manifest, icons): resources/resources.cmake
# defines KAV_RESOURCE_SOURCES when it exists.
set(KAV_RESOURCE_SOURCES)
if(EXISTS ${CMAKE_SOURCE_DIR}/resources/resources.cmake)
  include(${CMAKE_SOURCE_DIR}/resources/resources.cmake)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/app/win/WinMain.cpp)
  add_executable(KAV90R_HotKeyController WIN32 ${CMAKE_SOURCE_DIR}/app/win/WinMain.cpp ${KAV_RESOURCE_SOURCES})
  target_link_options(KAV90R_HotKeyController PRIVATE -municode ${KAV_STATIC_LINK} -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(KAV90R_HotKeyController PRIVATE kav_win)
  set(KAV_PROGRAM_EXE $<TARGET_FILE:KAV90R_HotKeyController>)
  if(KAV_BUILD_TESTS)
    find_program(KAV_OBJDUMP NAMES ${TOOLCHAIN_PREFIX}-objdump objdump)
    add_test(NAME program_imports COMMAND ${CMAKE_COMMAND}
      -DEXE=$<TARGET_FILE:KAV90R_HotKeyController> -DOBJDUMP=${KAV_OBJDUMP}
      -P ${CMAKE_SOURCE_DIR}/cmake/check_imports.cmake)
  endif()
endif()

add_subdirectory(tools/win)

if(KAV_BUILD_TESTS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  # One executable (and one CTest test) per file: every Wine start costs seconds.
  file(GLOB KAV_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
  file(GLOB KAV_WIN_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/support/*.cpp)
  if(KAV_WIN_TEST_SUPPORT)
    add_library(kav_win_test_support STATIC ${KAV_WIN_TEST_SUPPORT})
    target_link_libraries(kav_win_test_support PUBLIC kav_win GTest::gtest version)
  else()
    add_library(kav_win_test_support INTERFACE)
    target_link_libraries(kav_win_test_support INTERFACE kav_win GTest::gtest version)
  endif()
  target_include_directories(kav_win_test_support INTERFACE ${CMAKE_SOURCE_DIR}/tests/win)
  foreach(t ${KAV_WIN_TESTS})
    get_filename_component(name ${t} NAME_WE)
    add_executable(win_${name} ${t} ${KAV_RESOURCE_SOURCES})
    target_link_libraries(win_${name} PRIVATE kav_win_test_support GTest::gtest_main)
    target_link_options(win_${name} PRIVATE ${KAV_STATIC_LINK})
    target_compile_definitions(win_${name} PRIVATE
      KAV_SIMULATOR="${KAV_SIMULATOR}"
      KAV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      KAV_BINARY_DIR="${CMAKE_BINARY_DIR}")
    if(TARGET KAV90R_HotKeyController)
      target_compile_definitions(win_${name} PRIVATE KAV_PROGRAM_EXE="$<TARGET_FILE:KAV90R_HotKeyController>")
      add_dependencies(win_${name} KAV90R_HotKeyController)
    endif()
    add_test(NAME win_${name} COMMAND win_${name})
    set_tests_properties(win_${name} PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
  endforeach()

  # The layout test runs again on a screen of 144 dpi: scripts/wine-exec.sh
  # makes a second prefix with that DPI. It compares with what the run at
  # 96 dpi measured, so that run comes first.
  if(TARGET win_layout_test)
    set_tests_properties(win_layout_test PROPERTIES FIXTURES_SETUP kav_layout_96dpi)
    add_test(NAME win_layout_test_144dpi COMMAND win_layout_test)
    set_tests_properties(win_layout_test_144dpi PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE
      ENVIRONMENT "KAV_WINE_DPI=144;KAV_TEST_DPI=144" FIXTURES_REQUIRED kav_layout_96dpi)
  endif()
endif()

# End-to-end tests (the real program under Wine with the simulator):
# tests/e2e/e2e.cmake registers them when it exists.
if(KAV_BUILD_TESTS AND EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/e2e.cmake)
  include(${CMAKE_SOURCE_DIR}/tests/e2e/e2e.cmake)
endif()

# Release packages and the install/uninstall check under Wine.
if(KAV_BUILD_TESTS AND EXISTS ${CMAKE_SOURCE_DIR}/tests/release/release.cmake)
  include(${CMAKE_SOURCE_DIR}/tests/release/release.cmake)
endif()
