# Grabs from one simulated camera with a recording and a picture, then checks the recording
# with zrfgrab info, exports a frame and streams the recording again.
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
function(run)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} exited with ${rc}:\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# More frames than the recorder's queue holds: as fast as it goes, the camera waits for the disk
# and the recording holds every frame.
run(${ZRFGRAB} grab --camera ${CAMERA} --frames 300 --fast --quiet --json
    --record ${DIR}/rec.zrec --png ${DIR}/last.png)
if(NOT out MATCHES "\"delivered\": 300, \"lost\": 0"
   OR NOT out MATCHES "\"recording_frames\": 300, \"recording_dropped\": 0"
   OR NOT out MATCHES "\"recording_most_waiting\": ([1-9]|[1-9][0-9]|1[0-9][0-9]|2[0-4][0-9]|25[0-6]),")  # a queue holds at most 256
  message(FATAL_ERROR "grab summary: ${out}")
endif()
# Written around the page cache, in whole blocks of the file system's (512 bytes to 64 KiB).
if(NOT out MATCHES "\"recording_write_block\": (512|1024|2048|4096|8192|16384|32768|65536),")
  message(FATAL_ERROR "the recording was not written in direct blocks (does ${DIR}'s file system refuse them?): ${out}")
endif()
if(NOT EXISTS ${DIR}/last.png)
  message(FATAL_ERROR "no picture")
endif()
run(${ZRFGRAB} info ${DIR}/rec.zrec)
if(NOT out MATCHES "checksums: [0-9]+ good, 0 bad" OR NOT out MATCHES "ending       clean"
   OR NOT out MATCHES "first frame  #1  20[0-9][0-9]-[01][0-9]-")
  message(FATAL_ERROR "recording info: ${out}")
endif()
run(${ZRFGRAB} export ${DIR}/rec.zrec --frames 1- --zrf ${DIR}/frames)
file(GLOB frames ${DIR}/frames/*.zrf)
list(GET frames 0 first)
run(${ZRFGRAB} info ${first})
run(${ZRFGRAB} replay ${DIR}/rec.zrec --frames 5 --fast --quiet --json)
if(NOT out MATCHES "\"delivered\": 5, \"lost\": 0")
  message(FATAL_ERROR "replay summary: ${out}")
endif()
