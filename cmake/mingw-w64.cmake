# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so
# std::thread is there):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The programs link libstdc++, libgcc and winpthread statically, so each .exe runs without a
# mingw DLL beside it. ctest runs them under Wine in the prefix build-win/wineprefix, which
# script/wineprefix makes (script/windows does it all).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QMR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QMR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QMR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QMR_MINGW_TRIPLET}-windres)

# Libraries and packages come from the mingw sysroot only; programs (makensis, wine) from
# the host. The header-only nlohmann-json in /usr/include is looked up by path
# where it is used.
set(CMAKE_FIND_ROOT_PATH /usr/${QMR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# ctest starts each test program through Wine. The list is script/wine-run and the prefix;
# it is set here, where the build folder is known, unless given on the command line.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  get_filename_component(QMR_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QMR_SOURCE_ROOT}/script/wine-run
                                    ${CMAKE_BINARY_DIR}/wineprefix)
endif()
