# End-to-end scenarios: the real program under Wine in a virtual desktop with
# the switcher simulator on its COM port, driven by real input and read with
# the probe. One CTest test per scenario (scenarios_*.py); each makes its own
# Xvfb display and Wine prefix, so the tests run python3 directly, not
# through the Wine emulator. Evidence (screenshots, frames, logs) goes to
# <build>/e2e/<scenario>/.
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND OR NOT TARGET KAV90R_HotKeyController OR NOT TARGET kav_probe)
  message(STATUS "End-to-end tests not registered (needs python3, the program and the probe)")
  return()
endif()

file(GLOB _e2e_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.py)
# Re-read the scenario list whenever a scenario file changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_e2e_sources})
execute_process(
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_e2e.py --list
  OUTPUT_VARIABLE _e2e_list RESULT_VARIABLE _e2e_rc)
if(NOT _e2e_rc EQUAL 0)
  message(WARNING "End-to-end scenario list failed: ${_e2e_rc}")
  return()
endif()

string(REPLACE "\n" ";" _e2e_lines "${_e2e_list}")
foreach(_line ${_e2e_lines})
  if(_line MATCHES "^([A-Za-z0-9_]+) ([0-9]+)$")
    set(_name ${CMAKE_MATCH_1})
    set(_timeout ${CMAKE_MATCH_2})
    add_test(NAME e2e_${_name}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/run_e2e.py
              --program $<TARGET_FILE:KAV90R_HotKeyController>
              --probe $<TARGET_FILE:kav_probe>
              --simulator ${KAV_SIMULATOR}
              --work-dir ${CMAKE_BINARY_DIR}/e2e
              ${_name})
    set_tests_properties(e2e_${_name} PROPERTIES
      TIMEOUT ${_timeout} RUN_SERIAL TRUE SKIP_RETURN_CODE 77 LABELS e2e)
  endif()
endforeach()
