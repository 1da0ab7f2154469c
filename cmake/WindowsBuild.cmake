# The Windows build (preset "windows", cross-compiled with mingw-w64): the capture and imaging
# code against the platform's own headers and libraries, the simulated cameras as a source
# filter DLL that registers them as video input devices, and the suites that run against a
# real DirectShow under Wine (scripts/windows-test.sh). The host framework, the plug-in and
# the stand-in's platform are Linux-only; of the stand-in only the filter base is built here,
# for the DLL.
message(STATUS "Windows build: JPEG-LS is left out (no cross-built codec): "
               "MJLS samples decode as bad frames, and the simulated cameras send none")

find_package(Threads REQUIRED)
add_compile_definitions(ZRF_NO_JPEGLS NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
set(ZRF_PLATFORM_LIBS strmiids ksguid ole32 oleaut32 uuid winmm)

file(GLOB zrf_imaging_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/imaging/*.cpp)
list(REMOVE_ITEM zrf_imaging_sources ${PROJECT_SOURCE_DIR}/imaging/jpegls_codec.cpp)
add_library(zrf_imaging STATIC ${zrf_imaging_sources})
target_include_directories(zrf_imaging PUBLIC ${PROJECT_SOURCE_DIR})
zrf_warnings(zrf_imaging)

# The logger is the host framework's; the capture code's user errors go through it.
file(GLOB zrf_capture_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/capture/*.cpp)
add_library(zrf_capture STATIC ${zrf_capture_sources} ${PROJECT_SOURCE_DIR}/host/logging/logger.cpp)
target_include_directories(zrf_capture PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zrf_capture PUBLIC zrf_imaging Threads::Threads ${ZRF_PLATFORM_LIBS})
# Each needs the other (the image records stamp with the multimedia timer).
target_link_libraries(zrf_imaging PUBLIC zrf_capture)
zrf_warnings(zrf_capture)

# The simulated cameras' source filter: the same camera logic as the Linux build's cameras, on
# the stand-in's filter base built against the platform's headers.
add_library(zrf_simcam SHARED
  ${PROJECT_SOURCE_DIR}/platform/dshow/enumerators.cpp
  ${PROJECT_SOURCE_DIR}/platform/dshow/filter_base.cpp
  ${PROJECT_SOURCE_DIR}/platform/dshow/media_sample.cpp
  ${PROJECT_SOURCE_DIR}/sim/cameras/camera_presets.cpp
  ${PROJECT_SOURCE_DIR}/sim/cameras/thermal_sample_source.cpp
  ${PROJECT_SOURCE_DIR}/sim/control/resource_tree.cpp
  ${PROJECT_SOURCE_DIR}/sim/samples/camera_samples.cpp
  ${PROJECT_SOURCE_DIR}/sim/samples/mjpg_sample.cpp
  ${PROJECT_SOURCE_DIR}/sim/samples/thermal_scene.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/camera_properties.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/capture_pin.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/capture_source_controls.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/capture_source_filter.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/format_blocks.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/frame_pacer.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/sample_source.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/simulated_video_device.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/video_presets.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/filter_dll.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/registered_camera_filter.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/zrf_simcam.def)
set_target_properties(zrf_simcam PROPERTIES PREFIX "")
target_include_directories(zrf_simcam PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(zrf_simcam PRIVATE zrf_imaging Threads::Threads ${ZRF_PLATFORM_LIBS})
zrf_warnings(zrf_simcam)

# Uses every platform name the capture code relies on, so that the link shows the platform's
# libraries define them all. Never run.
add_executable(windows_link_probe ${PROJECT_SOURCE_DIR}/scripts/windows_link_probe.cpp)
target_link_libraries(windows_link_probe PRIVATE zrf_capture)

if(ZRF_BUILD_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/windows)
endif()
