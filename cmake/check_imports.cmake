# Fails when the program imports a DLL that is neither one of the system's
# known DLLs nor the side-by-side common controls: any other DLL would be
# looked up beside the executable before SetDefaultDllDirectories can run.
# Usage: cmake -DEXE=<program> -DOBJDUMP=<objdump> -P check_imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
set(allowed kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll
    ws2_32.dll shlwapi.dll psapi.dll msvcrt.dll comctl32.dll comdlg32.dll oleaut32.dll
    imm32.dll rpcrt4.dll)
set(bad "")
foreach(n ${names})
  string(REGEX REPLACE "DLL Name: *" "" dll "${n}")
  string(TOLOWER "${dll}" dll)
  string(STRIP "${dll}" dll)
  list(FIND allowed "${dll}" idx)
  if(idx EQUAL -1)
    list(APPEND bad ${dll})
  endif()
  message(STATUS "imports ${dll}")
endforeach()
if(bad)
  message(FATAL_ERROR "imports DLLs that could be planted beside the program: ${bad}")
endif()
# Functions newer than the oldest Windows the program supports are looked up
# at run time: an import of one would keep the program from starting there
# (SetDefaultDllDirectories: Windows 7 only with its update KB2533623).
foreach(fn SetDefaultDllDirectories AddDllDirectory GetDpiForWindow GetSystemMetricsForDpi)
  if(dump MATCHES "[ \t]${fn}[\r\n]")
    message(FATAL_ERROR "imports ${fn}, which older supported Windows versions lack")
  endif()
endforeach()
