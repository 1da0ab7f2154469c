# Compiles through ccache when the machine has it: CI builds five trees from a clean clone at
# every landing, and most of their files have not changed since the last one.
# The cache is keyed on the preprocessed source and the flags, so a hit is the same object
# the compiler would make. Paths are taken relative to the source folder and the build folder
# is not hashed, so a fresh clone elsewhere hits what the last one compiled (the debug
# information of such a hit names the other clone's folder). The precompiled test headers need
# the sloppiness below (their time stamps and defines are checked by the compiler anyway).
option(ZRF_CCACHE "Compile through ccache when it is installed" ON)
if(ZRF_CCACHE)
  find_program(ZRF_CCACHE_PROGRAM ccache)
  find_program(ZRF_ENV_PROGRAM env)
  if(ZRF_CCACHE_PROGRAM AND ZRF_ENV_PROGRAM)
    set(zrf_launcher
        ${ZRF_ENV_PROGRAM}
        CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
        CCACHE_NOHASHDIR=1
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
        ${ZRF_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${zrf_launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${zrf_launcher})
    message(STATUS "Compiling through ${ZRF_CCACHE_PROGRAM}")
  endif()
endif()
