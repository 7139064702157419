# Shared part of the two mingw-w64 cross builds (posix thread model, so
# that std::thread and std::mutex exist). The per-architecture toolchain
# file sets HV_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR and the Wine loader
# that runs the tests, then includes this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${HV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${HV_MINGW_TRIPLET}-windres)
set(HV_OBJDUMP         ${HV_MINGW_TRIPLET}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${HV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
