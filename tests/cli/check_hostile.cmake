# zrfgrab given what a careless or hostile user gives it: every row is a command, the exit
# status it must end with (2 bad arguments, 1 failure) and a regular expression its output must
# match. A failure is one line on stderr; nothing is clobbered, nothing is left half-written.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/recdir ${DIR}/zout)
set(Z ${ZRFGRAB})

function(expect status pattern)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${DIR} TIMEOUT 120
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc STREQUAL "${status}" OR NOT "${out}${err}" MATCHES "${pattern}")
    message(SEND_ERROR "${ARGN}\nexited with ${rc}, not ${status}, or did not say '${pattern}':\n${out}${err}")
  elseif((status EQUAL 1 OR status EQUAL 2) AND NOT err MATCHES "^zrfgrab[^\n]*\n$")
    message(SEND_ERROR "${ARGN}\nsaid more or less than one line on stderr:\n${err}")
  endif()
endfunction()

# Fixtures: a recording of three frames at the slowest rate, the same cut short and reduced to
# its header, sparse files at and above the input limit, a pipe, a link to a file that must stay
# as it is, files where folders belong.
# Paced, not --fast: starting the graph restarts the frame clock, which must come before the
# first frame for the time stamps to run on.
expect(0 "" ${Z} grab --rate-index 0 --frames 3 --quiet --record rec.zrec)
execute_process(COMMAND head -c 32 ${DIR}/rec.zrec OUTPUT_FILE ${DIR}/empty.zrec)
execute_process(COMMAND head -c 700 ${DIR}/rec.zrec OUTPUT_FILE ${DIR}/cut.zrec)
execute_process(COMMAND truncate -s 300M ${DIR}/big)
execute_process(COMMAND truncate -s 256M ${DIR}/edge)
execute_process(COMMAND mkfifo ${DIR}/pipe)
file(WRITE ${DIR}/target.txt "kept")
file(WRITE ${DIR}/kept.png "kept")
file(CREATE_LINK target.txt ${DIR}/link.png SYMBOLIC)
file(CREATE_LINK ../target.txt ${DIR}/zout/frame_000001.zrf SYMBOLIC)
file(WRITE ${DIR}/afile "x")
file(WRITE ${DIR}/zrfgrab-out "x")
set(decode decode --subtype F7M0 --source usb --size 640x480 --camera-time)

# A full disk part way through a recording: the frames kept and why, a clean file, exit 1.
expect(1 "\"recording_frames\": [1-9], \"recording_complete\": false.*stopped after [1-9] of 20 frames: File too large"
       prlimit --fsize=3000000 ${Z} grab --frames 20 --fast --quiet --json --record full.zrec)
expect(0 "ending +clean" ${Z} info full.zrec)
# Only a regular file is replaced, never a link or what it points at; a picture that cannot be
# written leaves the old one.
expect(2 "--png 'link.png': not a regular file" ${Z} grab --frames 1 --fast --quiet --png link.png)
expect(2 "--png 'pipe': not a regular file" ${Z} grab --frames 1 --fast --quiet --png pipe)
expect(2 "--png 'recdir': it is a folder" ${Z} grab --frames 1 --fast --quiet --png recdir)
expect(1 "cannot write 'kept.png': Write Error \\(File too large\\)"
       prlimit --fsize=20000 ${Z} grab --frames 1 --fast --quiet --png kept.png)
expect(1 "cannot write 'zout/frame_000001.zrf': not a regular file" ${Z} export rec.zrec --zrf zout)
# What cannot be read is refused, whatever it is, before anything is read.
expect(2 "cannot read '.*': it is a folder" ${Z} info ${DIR})
expect(2 "cannot read '/proc/self/mem': Input/output error" ${Z} info /proc/self/mem)
expect(2 "cannot read '/dev/zero': not a regular file" ${Z} info /dev/zero)
expect(2 "cannot read 'pipe': not a regular file" ${Z} info pipe)
expect(2 "cannot read '.*': it is a folder" ${Z} ${decode} ${DIR} out.zrf)
expect(2 "cannot read 'big': larger than 256 MiB" ${Z} info big)
expect(2 "'edge' is neither a recording nor a ZRF image" ${Z} info edge)
expect(2 "cannot read 'big': larger than 256 MiB" ${Z} ${decode} big out.zrf)
expect(2 "cannot read 'big': larger than 256 MiB" ${Z} grab --identity big)
expect(1 "cannot read '.*': Is a directory" ${Z} checksum CRC32 ${DIR})
expect(1 "cannot read 'no_such_file': No such file" ${Z} checksum CRC00 no_such_file)
expect(2 "^zrfgrab replay: cannot open the recording 'nosuch.zrec': No such file or directory\n$"
       ${Z} replay nosuch.zrec)
# Every frame's image damaged (one byte each): nothing to replay.
execute_process(COMMAND sh -c "cp rec.zrec bad.zrec && for at in 5064 622084 1239104; do printf X | dd of=bad.zrec bs=1 seek=$at conv=notrunc 2>/dev/null; done"
                WORKING_DIRECTORY ${DIR})
expect(2 "'bad.zrec' holds no complete frame to replay" ${Z} replay bad.zrec)
# Folders that cannot be made.
expect(2 "'afile' is not a folder" ${Z} export rec.zrec --zrf afile)
expect(1 "cannot create the folder '/proc/x'" ${Z} export rec.zrec --zrf /proc/x)
expect(1 "cannot create the folder 'zrfgrab-out'" ${Z})
# A recording's cost is said before it starts; one into a folder names the file it made.
expect(0 "recording to 'cost.zrec': about 617 KB a frame, 277.6 MB a minute"
       ${Z} grab --rate-index 0 --frames 1 --fast --record cost.zrec)
expect(0 "frames lost +0\ncalibrations +0\nrecording +recdir/recording_0001.zrec \\(1 frame, 617 KB\\)"
       ${Z} grab --frames 1 --fast --quiet --record recdir)
# Arguments are checked before streaming.
expect(2 "unknown palette 'nosuch'" ${Z} grab --frames 2 --fast --quiet --record p7.zrec --png p7.png --palette nosuch)
expect(2 "--png '/missing/x.png': No such file" ${Z} grab --frames 2 --fast --quiet --record p7.zrec --png /missing/x.png)
expect(2 "choose one of --frames and --seconds" ${Z} grab --frames 3 --seconds 0.5)
expect(2 "--seconds takes a number above 0" ${Z} grab --seconds 0)
expect(2 "--seconds takes a number above 0" ${Z} grab --seconds -1)
expect(2 "--rate-index takes a whole number from 0 to 999, not '-1'" ${Z} grab --rate-index -1)
expect(2 "--pre-record takes a whole number from 0 to 10000, not '-1'" ${Z} grab --pre-record -1 --record r.zrec)
expect(2 "--pre-record takes a whole number from 0 to 10000, not '4294967296'" ${Z} grab --pre-record 4294967296)
expect(2 "--rate-index takes 0 to 2 for this camera, not 3" ${Z} grab --rate-index 3 --frames 1 --fast --quiet)
expect(2 "--windowing takes 0, 2 or 4, not '3'" ${Z} grab --windowing 3)
expect(2 "this camera has no windowing" ${Z} grab --windowing 2 --frames 1 --fast --quiet)
expect(2 "unknown camera 'nosuch'" ${Z} grab --camera nosuch)
expect(2 "unknown camera 'nosuch'" ${Z} command 40 --camera nosuch)
expect(2 "serves no identifier 'X'" ${Z} grab --identifier X --frames 1 --fast --quiet)
expect(2 "unknown subtype 'ABCD'" ${Z} decode --subtype ABCD --source usb --size 4x4 rec.zrec out.zrf)
expect(2 "unknown command 'frobnicate'" ${Z} frobnicate)
expect(2 "unknown checksum 'MD5'" ${Z} checksum MD5 rec.zrec)
expect(1 "Vorn.CaptureDevice.so" ${Z} list --plugin /nonexistent/Vorn.CaptureDevice.so)
expect(1 "zrfgrab command: " ${Z} command 4)
# Exports that select nothing say so.
expect(2 "--frames 5-2 selects no frames" ${Z} export rec.zrec --frames 5-2 --zrf e9)
expect(2 "--frames takes a whole number from 1" ${Z} export rec.zrec --frames 0 --zrf e9)
expect(2 "--zrf needs a value" ${Z} export rec.zrec --zrf)
expect(1 "'empty.zrec' holds no complete frame" ${Z} export empty.zrec --zrf e9)
expect(1 "'rec.zrec' holds no frame in 7-9" ${Z} export rec.zrec --frames 7-9 --zrf e9)
expect(1 "cut short" ${Z} info cut.zrec)
# A sample back into its image; a write that fails leaves nothing behind and says why.
expect(0 "1 sample written to samples.*zrfgrab decode --subtype F7M0 --source usb --size 640x480"
       ${Z} export rec.zrec --frames 1 --sample samples)
expect(0 "1 image written" ${Z} export rec.zrec --frames 1 --zrf images)
expect(0 "" ${Z} ${decode} samples/frame_000001.raw round.zrf)
expect(1 "cannot write 'out8.zrf': File too large"
       prlimit --fsize=100000 ${Z} ${decode} samples/frame_000001.raw out8.zrf)
# The recording made at the slowest rate, whole; a summary naming an awkward picture.
expect(0 "frame rate +7.5 fps.*lost frames +none.*ending +clean" ${Z} info rec.zrec)
expect(0 "\"picture\": \"sp ace\\\\\"q\\\\\"\\.png\"" ${Z} grab --frames 1 --fast --quiet --json --png "sp ace\"q\".png")
# Help, a replay that loops, Ctrl-C, and the device disposed before it is let go.
expect(0 "usage: zrfgrab grab .*--identifier ID" ${Z} grab --help)
expect(0 "main job.*--identifier ID.*--pre-record N.*--plugin PATH.*Exit status" ${Z} --help)
expect(0 "'rec.zrec' holds 3 frames; replay plays them again" ${Z} replay rec.zrec --frames 5 --fast)
expect(130 "frames delivered" timeout --foreground --preserve-status -s INT 3 ${Z} grab --seconds 600 --quiet)
expect(0 "END CaptureDevice::~CaptureDevice" ${CMAKE_COMMAND} -E env ZRF_LOG=trace
       ZRF_SWITCHES=Vorn.CaptureDevice=Verbose ${Z} grab --frames 1 --fast --quiet)

file(READ ${DIR}/target.txt kept)
file(READ ${DIR}/kept.png kept_png)
file(GLOB left ${DIR}/p7.* ${DIR}/out8.zrf* ${DIR}/kept.png.*)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/round.zrf ${DIR}/images/frame_000001.zrf
                RESULT_VARIABLE differ)
if(NOT kept STREQUAL "kept" OR NOT kept_png STREQUAL "kept" OR NOT IS_SYMLINK ${DIR}/link.png OR left OR differ)
  message(SEND_ERROR "clobbered or left behind: target '${kept}', files ${left}, round trip ${differ}")
endif()
