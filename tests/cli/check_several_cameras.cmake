# zrfgrab grab with several cameras: one device per camera, each recorded to its own file, one
# summary line each; a preset named twice is two cameras with their own device paths and seeds.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/folder)
set(Z ${ZRFGRAB})

function(run status pattern)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${DIR} TIMEOUT 120
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc STREQUAL "${status}" OR NOT "${out}${err}" MATCHES "${pattern}")
    message(SEND_ERROR "${ARGN}\nexited with ${rc}, not ${status}, or did not say '${pattern}':\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(whole recording frames)
  run(0 "frames +${frames} \\(checksums: ${frames} good, 0 bad\\).*ending +clean" ${Z} info ${recording})
endfunction()

# Three cameras, two of one kind: a file each, named by place, each whole and as long as asked.
run(0 "" ${Z} grab --camera usb-ir --camera fw-ir --camera usb-ir --frames 40 --fast --quiet
    --record run.zrec --png run.png)
string(REGEX MATCHALL "[^\n]+\n" lines "${output}")
list(LENGTH lines count)
if(NOT count EQUAL 3)
  message(SEND_ERROR "expected a summary line per camera:\n${output}")
endif()
foreach(line usb-ir fw-ir "usb-ir#2")
  if(NOT output MATCHES "(^|\n)${line} +40 frames \\([0-9.]+ fps\\), 0 lost")
    message(SEND_ERROR "no summary line for ${line}:\n${output}")
  endif()
endforeach()
foreach(i 1 2 3)
  whole(run-${i}.zrec 40)
  if(NOT EXISTS ${DIR}/run-${i}.png)
    message(SEND_ERROR "run-${i}.png was not written")
  endif()
endforeach()
# The second usb-ir is its own camera: another seed, so other pictures.
run(0 "" ${Z} checksum CRC32 run-1.zrec)
set(first "${output}")
run(0 "" ${Z} checksum CRC32 run-3.zrec)
if(first STREQUAL output)
  message(SEND_ERROR "the two usb-ir cameras recorded the same frames")
endif()

# A folder: each camera's recording numbered in it.
run(0 "" ${Z} grab --camera usb-ir --camera usb-ir --frames 5 --fast --quiet --record folder)
file(GLOB numbered ${DIR}/folder/*.zrec)
list(LENGTH numbered count)
if(NOT count EQUAL 2)
  message(SEND_ERROR "expected two numbered recordings in the folder, found: ${numbered}")
endif()

# JSON: one object with the cameras' objects; a single camera's stays as it was.
run(0 "^\\{\"cameras\": \\[\\{\"camera\": \"usb-ir\", \"delivered\": 3,.*\\}, \\{\"camera\": \"webcam\", \"delivered\": 3,.*\\}\\]\\}\n$"
    ${Z} grab --camera usb-ir --camera webcam --format YUY2 --frames 3 --fast --quiet --json)
run(0 "^\\{\"delivered\": 3," ${Z} grab --frames 3 --fast --quiet --json)

# What one camera cannot do stops the grab before any camera streams: nothing is recorded.
run(2 "the camera does not offer the format IR"
    ${Z} grab --camera usb-ir --camera webcam --frames 3 --fast --quiet --record refused.zrec)
file(GLOB refused ${DIR}/refused*)
if(refused)
  message(SEND_ERROR "a refused grab left recordings: ${refused}")
endif()

# Ctrl-C ends every camera's recording cleanly.
run(130 "ended by Ctrl-C"
    bash -c "env --default-signal=INT ${Z} grab --camera usb-ir --camera fw-ir --seconds 600 --quiet --record int.zrec &\np=$!\nsleep 3\nkill -INT $p\nwait $p")
foreach(i 1 2)
  run(0 "ending +clean" ${Z} info int-${i}.zrec)
endforeach()
