# Compiles through ccache when the machine has it: CI builds five trees from a clean clone at
# every landing, and most of their files have not changed since the last one.
# The cache is keyed on the preprocessed source and the flags, so a hit is the same object the
# compiler would make. Paths are taken relative to the source folder. Under CI (`CI` set when
# configuring) the build folder is not hashed either, so a clone elsewhere hits what the last
# one compiled (the debug information of such a hit names the other clone's folder); elsewhere
# a checkout hits only its own objects, so a debugger finds its sources. The precompiled test
# headers need the sloppiness below (the compiler checks their defines itself).
option(ZRF_CCACHE "Compile through ccache when it is installed" ON)

# Whether ccache can keep what it compiles: where it cannot, every compile would fail.
function(zrf_ccache_usable program out)
  execute_process(COMMAND ${program} --get-config cache_dir
                  OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  set(usable OFF)
  if(status EQUAL 0 AND dir)
    execute_process(COMMAND sh -c "mkdir -p \"$1\" && test -w \"$1\"" _ "${dir}"
                    RESULT_VARIABLE writable)
    if(writable EQUAL 0)
      set(usable ON)
    endif()
  endif()
  set(${out} ${usable} PARENT_SCOPE)
endfunction()

if(ZRF_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER AND NOT CMAKE_C_COMPILER_LAUNCHER)
  find_program(ZRF_CCACHE_PROGRAM ccache)
  find_program(ZRF_ENV_PROGRAM env)
  if(ZRF_CCACHE_PROGRAM AND ZRF_ENV_PROGRAM)
    zrf_ccache_usable(${ZRF_CCACHE_PROGRAM} zrf_ccache_ok)
  endif()
  if(zrf_ccache_ok)
    set(zrf_launcher ${ZRF_ENV_PROGRAM} CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
                     CCACHE_SLOPPINESS=pch_defines,time_macros)
    if(DEFINED ENV{CI})
      list(APPEND zrf_launcher CCACHE_NOHASHDIR=1)
    endif()
    list(APPEND zrf_launcher ${ZRF_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${zrf_launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${zrf_launcher})
    message(STATUS "Compiling through ${ZRF_CCACHE_PROGRAM}")
  elseif(ZRF_CCACHE_PROGRAM AND NOT ZRF_ENV_PROGRAM)
    message(STATUS "Not compiling through ccache: no env program to pass it its settings")
  elseif(ZRF_CCACHE_PROGRAM)
    message(STATUS "Not compiling through ccache: it cannot tell or write its cache folder")
  endif()
endif()
