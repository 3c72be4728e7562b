# Cross-compiling for Windows x86-64 with Debian's mingw-w64 compilers.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Takes the posix-threads variant of the compiler when it is installed, else
# whatever x86_64-w64-mingw32-gcc/g++ point at.  The posix variant's
# libstdc++ has std::mutex and std::thread, which GoogleTest needs on Windows
# (GCC 12's win32 variant lacks them).  Everything the compiler brings with
# it (libgcc, libstdc++, winpthread) is linked statically, so the DLL and the
# test programs need only the system's DLLs.
#
# When the emulator is found (Wine; WKS_WINE overrides the search), ctest
# runs the test programs through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WKS_MINGW_PREFIX x86_64-w64-mingw32)

foreach(variant posix "")
  if(variant)
    set(suffix "-${variant}")
  else()
    set(suffix "")
  endif()
  find_program(WKS_MINGW_GXX NAMES ${WKS_MINGW_PREFIX}-g++${suffix})
  find_program(WKS_MINGW_GCC NAMES ${WKS_MINGW_PREFIX}-gcc${suffix})
  if(WKS_MINGW_GXX AND WKS_MINGW_GCC)
    break()
  endif()
  unset(WKS_MINGW_GXX CACHE)
  unset(WKS_MINGW_GCC CACHE)
endforeach()
if(NOT WKS_MINGW_GXX)
  message(FATAL_ERROR "no ${WKS_MINGW_PREFIX} C++ compiler found: install g++-mingw-w64-x86-64-posix "
                      "(scripts/setup windows does)")
endif()

set(CMAKE_C_COMPILER ${WKS_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${WKS_MINGW_GXX})
find_program(CMAKE_RC_COMPILER NAMES ${WKS_MINGW_PREFIX}-windres)
find_program(WKS_OBJDUMP NAMES ${WKS_MINGW_PREFIX}-objdump)
find_program(WKS_NM NAMES ${WKS_MINGW_PREFIX}-nm)

set(CMAKE_FIND_ROOT_PATH /usr/${WKS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static turns every library the compiler adds by itself into its archive
# (libgcc, libstdc++, winpthread); the system DLLs are still reached through
# their import libraries.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

if(NOT WKS_WINE)
  find_program(WKS_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(WKS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WKS_WINE})
endif()
