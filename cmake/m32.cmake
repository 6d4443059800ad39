# Toolchain file for the 32-bit build: the layouts that firmware modules compile against
# (error table record, task descriptor) are exact only with 32-bit pointers.
# 64-bit file offsets: 32-bit readdir/stat fail with EOVERFLOW on file systems with large inode
# numbers. 64-bit time_t: a 32-bit one cannot hold a moment after 19 January 2038, and every
# record stamped later would take the placeholder date and time (glibc needs both macros).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
