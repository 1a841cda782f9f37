# Resources of the program (version, message table, manifest, icons). Included
# by the Windows build; KAV_RESOURCE_SOURCES is linked into the program and
# into every Win32 test.
set(_kav_res_src ${CMAKE_CURRENT_LIST_DIR})
set(_kav_res_gen ${CMAKE_BINARY_DIR}/resources)

# The message table: windmc makes the binary message block; the main .rc
# places it under the neutral language (windmc itself cannot name that one).
add_custom_command(
  OUTPUT ${_kav_res_gen}/MSG00409.bin
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_kav_res_gen}
  COMMAND ${KAV_WINDMC} -A -r ${_kav_res_gen} -h ${_kav_res_gen} ${_kav_res_src}/messages.mc
  DEPENDS ${_kav_res_src}/messages.mc
  COMMENT "Message table (windmc)"
  VERBATIM)
add_custom_target(kav_message_table DEPENDS ${_kav_res_gen}/MSG00409.bin)

set(KAV_RESOURCE_SOURCES ${_kav_res_src}/KAV90R_HotKeyController.rc)
set_source_files_properties(${_kav_res_src}/KAV90R_HotKeyController.rc PROPERTIES
  INCLUDE_DIRECTORIES "${_kav_res_src};${_kav_res_gen}"
  OBJECT_DEPENDS "${_kav_res_gen}/MSG00409.bin;${_kav_res_src}/resource.h;${_kav_res_src}/KAV90R_HotKeyController.manifest;${_kav_res_src}/icons/KAV90R_HotKeyController.ico;${_kav_res_src}/icons/TrayOn.ico;${_kav_res_src}/icons/TrayOff.ico")

# A resource dump of the built program (windres -i), checked on the host.
if(KAV_BUILD_TESTS AND EXISTS ${CMAKE_SOURCE_DIR}/app/win/WinMain.cpp)
  add_test(NAME resources_dump
    COMMAND bash ${_kav_res_src}/check_resource_dump.sh ${CMAKE_RC_COMPILER} $<TARGET_FILE:KAV90R_HotKeyController>)
endif()
