# Checks that a DLL needs only the system's DLLs: the C runtime (msvcrt.dll,
# or the universal runtime and its api-ms-win-crt-* forwarders), kernel32 and
# user32.  A compiler runtime DLL here (libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll) means a host would have to ship it too.
# Usage: cmake -DLIB=wks.dll -DOBJDUMP=x86_64-w64-mingw32-objdump -P check_dll_imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIB}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" entries "${dump}")
set(needed "")
set(foreign "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^DLL Name: " "" dll "${entry}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  list(APPEND needed ${dll})
  if(NOT lower MATCHES "^(kernel32|user32|msvcrt|ucrtbase)\\.dll$" AND NOT lower MATCHES "^api-ms-win-crt-")
    list(APPEND foreign ${dll})
  endif()
endforeach()
if(NOT needed)
  message(FATAL_ERROR "no imports found in ${LIB}: objdump output not understood")
endif()
if(foreign)
  message(FATAL_ERROR "${LIB} needs DLLs beyond the system's: ${foreign}")
endif()
message(STATUS "${LIB} needs only ${needed}")
