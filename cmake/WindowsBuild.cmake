# The Windows build (preset "windows", cross-compiled with mingw-w64). Everything lands in bin/:
#   zrf_simcam.dll           the simulated cameras as a registered DirectShow source filter
#   zrf_host.dll             the host framework stand-in (target zrf_system, as on Linux; here
#                            without the platform, which is the real one, and the cameras)
#   plugin/Vorn.CaptureDevice.dll  the plug-in, with its resource set as a Win32 resource
#   zrfgrab.exe              the command-line host
#   and the suites run under Wine (scripts/windows-test.sh).
# pugixml and libpng come cross-built from scripts/windows-deps.sh; without them only the
# capture code, the filter DLL and the capture suite are built.
message(STATUS "Windows build: JPEG-LS is left out (no cross-built codec): "
               "MJLS samples decode as bad frames, and the simulated cameras send none")

# tools/formats is never added here: whatever ZRF_TIFF and ZRF_VIDEO say, no libtiff or FFmpeg
# reaches this build, and zrfgrab says so (export --help) and refuses --tiff and --video.
message(STATUS "Windows build: zrfgrab export writes no TIFF and no video (no cross-built libtiff "
               "or FFmpeg); 16-bit PNG and CSV it writes")

enable_language(RC)
find_package(Threads REQUIRED)
# localtime_r and gmtime_r, as the POSIX threads headers would declare them.
add_compile_definitions(ZRF_NO_JPEGLS NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601
                        _POSIX_THREAD_SAFE_FUNCTIONS=200112L)
set(ZRF_PLATFORM_LIBS strmiids ksguid ole32 oleaut32 uuid winmm)
# Line tables and function names for stack captures, in the DWARF version DbgHelp reads (Wine's
# reads up to 4; the compiler writes 5 unless told).
add_compile_options(-g1 -gdwarf-4)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
include(cmake/EmbedResource.cmake)

set(ZRF_WINDOWS_DEPS ${PROJECT_SOURCE_DIR}/build/windows-deps/prefix CACHE PATH
    "Where scripts/windows-deps.sh put the cross-built pugixml and libpng")
find_library(ZRF_WIN_ZLIB NAMES libz.a z)
if(EXISTS ${ZRF_WINDOWS_DEPS}/lib/libpugixml.a AND EXISTS ${ZRF_WINDOWS_DEPS}/lib/libpng16.a
   AND ZRF_WIN_ZLIB)
  set(ZRF_WINDOWS_PLUGIN ON)
  add_library(pugixml::pugixml STATIC IMPORTED)
  set_target_properties(pugixml::pugixml PROPERTIES
    IMPORTED_LOCATION ${ZRF_WINDOWS_DEPS}/lib/libpugixml.a
    INTERFACE_INCLUDE_DIRECTORIES ${ZRF_WINDOWS_DEPS}/include)
  add_library(PNG::PNG STATIC IMPORTED)
  set_target_properties(PNG::PNG PROPERTIES
    IMPORTED_LOCATION ${ZRF_WINDOWS_DEPS}/lib/libpng16.a
    INTERFACE_INCLUDE_DIRECTORIES ${ZRF_WINDOWS_DEPS}/include
    INTERFACE_LINK_LIBRARIES ${ZRF_WIN_ZLIB})
else()
  set(ZRF_WINDOWS_PLUGIN OFF)
  message(STATUS "Windows build: no cross-built pugixml and libpng in ${ZRF_WINDOWS_DEPS} "
                 "(scripts/windows-deps.sh): the host framework, the plug-in and zrfgrab are left out")
endif()

file(GLOB zrf_imaging_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/imaging/*.cpp)
list(REMOVE_ITEM zrf_imaging_sources ${PROJECT_SOURCE_DIR}/imaging/jpegls_codec.cpp)
add_subdirectory(support/copy)
add_library(zrf_imaging STATIC ${zrf_imaging_sources})
target_include_directories(zrf_imaging PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zrf_imaging PUBLIC zrf_copy)
zrf_warnings(zrf_imaging)

file(GLOB zrf_capture_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/capture/*.cpp)
add_library(zrf_capture STATIC ${zrf_capture_sources})
target_include_directories(zrf_capture PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zrf_capture PUBLIC zrf_imaging Threads::Threads ${ZRF_PLATFORM_LIBS})
# Each needs the other (the image records stamp with the multimedia timer).
target_link_libraries(zrf_imaging PUBLIC zrf_capture)
zrf_warnings(zrf_capture)
# The capture and imaging code call the platform's time functions through the clock seam, which
# reads a test clock when a test program installs one and the real clocks otherwise, as the
# stand-in does on Linux: the device suites under Wine run on the test clock too.
add_library(zrf_clock_seam STATIC ${PROJECT_SOURCE_DIR}/platform/time/test_clock.cpp
                                  ${PROJECT_SOURCE_DIR}/platform/time/windows_clock_seam.cpp)
target_include_directories(zrf_clock_seam PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zrf_clock_seam PUBLIC winmm)
foreach(seamed zrf_capture zrf_imaging)
  target_compile_options(${seamed} PRIVATE -include ${PROJECT_SOURCE_DIR}/platform/time/windows_clock_seam.h)
  target_link_libraries(${seamed} PUBLIC zrf_clock_seam)
endforeach()

if(ZRF_WINDOWS_PLUGIN)
  # The host framework stand-in, one DLL that the plug-in, zrfgrab and the filter DLL share:
  # one logger, one switch configuration, one registry of the cameras' resource trees.
  # Of the cameras' code it holds what its programs share with the filter DLL: the cameras'
  # resource trees (registered with the control channel), their identities and the handle that
  # starts them through the DLL's camera service.
  add_library(zrf_system SHARED ${PROJECT_SOURCE_DIR}/sim/control/resource_tree.cpp
                                ${PROJECT_SOURCE_DIR}/sim/cameras/camera_identity.cpp
                                ${PROJECT_SOURCE_DIR}/sim/handle/simulated_camera_handle.cpp
                                ${PROJECT_SOURCE_DIR}/sim/handle/registered_camera_service.cpp)
  set_target_properties(zrf_system PROPERTIES OUTPUT_NAME zrf_host PREFIX "")
  target_include_directories(zrf_system PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(zrf_system PUBLIC pugixml::pugixml Threads::Threads PRIVATE dbghelp)
  # Every symbol of its own is exported, as from a Linux shared library; none of the static
  # libraries linked into it (the runtime's the linker does not leave out itself), which each
  # user links itself.
  target_link_options(zrf_system PRIVATE
    LINKER:--exclude-libs=libgcc_eh.a:libpthread.a:libwinpthread.a:libpugixml.a:libzrf_hash.a:libzrf_copy.a:libz.a)
  zrf_warnings(zrf_system)
  add_subdirectory(support/hash)
  add_subdirectory(host)
  # The capture code's user errors go through the host's logger.
  target_link_libraries(zrf_capture PUBLIC zrf_system)
  foreach(dir support/trace plugin tools/picture tools/zrfgrab)
    add_subdirectory(${dir})
  endforeach()
  set_target_properties(Vorn.CaptureDevice PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/plugin)
  # zrfgrab export writes the samples a USB camera would send, and reads the simulated cameras'
  # imperfections as they do (on Linux part of zrf_system).
  target_sources(zrfgrab_commands PRIVATE ${PROJECT_SOURCE_DIR}/sim/cameras/usb_sample_from_image.cpp
    ${PROJECT_SOURCE_DIR}/sim/cameras/imperfection_text.cpp)
else()
  # The capture code alone: its logger is the host's, built in.
  target_sources(zrf_capture PRIVATE ${PROJECT_SOURCE_DIR}/host/logging/logger.cpp)
endif()

# The simulated cameras' source filter: the same camera logic as the Linux build's cameras, on
# the stand-in's filter base built against the platform's headers. With the host framework
# built, the cameras of a process are reachable through its control channel as well.
set(zrf_simcam_sources
  ${PROJECT_SOURCE_DIR}/platform/dshow/enumerators.cpp
  ${PROJECT_SOURCE_DIR}/platform/dshow/filter_base.cpp
  ${PROJECT_SOURCE_DIR}/platform/dshow/media_sample.cpp
  ${PROJECT_SOURCE_DIR}/platform/dshow/memory_allocator.cpp
  ${PROJECT_SOURCE_DIR}/sim/cameras/camera_presets.cpp
  ${PROJECT_SOURCE_DIR}/sim/cameras/thermal_sample_source.cpp
  ${PROJECT_SOURCE_DIR}/sim/samples/camera_samples.cpp
  ${PROJECT_SOURCE_DIR}/sim/samples/mjpg_sample.cpp
  ${PROJECT_SOURCE_DIR}/sim/samples/thermal_scene.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/camera_properties.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/capture_pin.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/capture_source_controls.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/capture_source_filter.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/format_blocks.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/frame_pacer.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/sample_glitches.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/sample_source.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/simulated_video_device.cpp
  ${PROJECT_SOURCE_DIR}/sim/video/video_presets.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/camera_bag.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/filter_dll.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/registered_camera_filter.cpp
  ${PROJECT_SOURCE_DIR}/sim/windows/zrf_simcam.def)
if(ZRF_WINDOWS_PLUGIN)
  list(APPEND zrf_simcam_sources
    ${PROJECT_SOURCE_DIR}/sim/cameras/imperfection_text.cpp
    ${PROJECT_SOURCE_DIR}/sim/cameras/preset_changes.cpp
    ${PROJECT_SOURCE_DIR}/sim/cameras/process_cameras.cpp
    ${PROJECT_SOURCE_DIR}/sim/cameras/replay_sample_source.cpp
    ${PROJECT_SOURCE_DIR}/sim/cameras/simulated_camera.cpp
    ${PROJECT_SOURCE_DIR}/sim/cameras/usb_sample_from_image.cpp
    ${PROJECT_SOURCE_DIR}/sim/windows/process_cameras.cpp)
else()
  list(APPEND zrf_simcam_sources ${PROJECT_SOURCE_DIR}/sim/control/resource_tree.cpp
    ${PROJECT_SOURCE_DIR}/host/control/camera_tree.cpp)
endif()
add_library(zrf_simcam SHARED ${zrf_simcam_sources})
set_target_properties(zrf_simcam PROPERTIES PREFIX "")
target_include_directories(zrf_simcam PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(zrf_simcam PRIVATE zrf_imaging Threads::Threads ${ZRF_PLATFORM_LIBS})
if(ZRF_WINDOWS_PLUGIN)
  target_compile_definitions(zrf_simcam PRIVATE ZRF_PROCESS_CAMERAS)
  target_link_libraries(zrf_simcam PRIVATE zrf_system)
endif()
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
