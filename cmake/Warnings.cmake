function(zrf_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
function(zrf_add_subdirs)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# GoogleTest's and GoogleMock's headers, precompiled once for every test program: parsing them
# is most of what a test file costs to compile. The owner is an executable like the tests, so
# the flags match. GCC only: a test compiled with flags GCC finds different reads the headers
# themselves instead (and says so: -Winvalid-pch), where clang would stop the build.
function(zrf_test_headers_target)
  if(TARGET zrf_test_headers)
    return()
  endif()
  set(main ${CMAKE_BINARY_DIR}/zrf_test_headers.cpp)
  file(CONFIGURE OUTPUT ${main} CONTENT "int main() { return 0; }\n")
  add_executable(zrf_test_headers EXCLUDE_FROM_ALL ${main})
  target_link_libraries(zrf_test_headers PRIVATE GTest::gtest GTest::gmock)
  target_precompile_headers(zrf_test_headers PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
  zrf_warnings(zrf_test_headers)
endfunction()

# zrf_add_test(<name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable, registered with CTest test by test.
function(zrf_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  zrf_warnings(${name})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    zrf_test_headers_target()
    target_precompile_headers(${name} REUSE_FROM zrf_test_headers)
  endif()
  # A thread-checking build compiles and runs only the suites that involve several threads.
  if(ZRF_THREAD_TESTS_ONLY AND NOT "threads" IN_LIST T_LABELS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
endfunction()
