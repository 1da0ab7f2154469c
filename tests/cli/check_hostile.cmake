# zrfgrab given what a careless or hostile user gives it: every row is a command, the exit
# status it must end with (2 bad arguments, 1 failure) and a regular expression its output must
# match. A failure is one line on stderr; nothing is clobbered, nothing is left half-written.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/recdir ${DIR}/zout)
set(Z ${ZRFGRAB})

# A failure is reported as lines "zrfgrab ...: why" on stderr, one per failure (`lines`). A shell
# command's lines are separated by newlines: a semicolon would split the command's list.
function(expect_lines status lines pattern)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${DIR} TIMEOUT 120
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPEAT "zrfgrab[^\n]*\n" ${lines} each)
  if(NOT rc STREQUAL "${status}" OR NOT "${out}${err}" MATCHES "${pattern}")
    message(SEND_ERROR "${ARGN}\nexited with ${rc}, not ${status}, or did not say '${pattern}':\n${out}${err}")
  elseif((status EQUAL 1 OR status EQUAL 2) AND NOT err MATCHES "^${each}$")
    message(SEND_ERROR "${ARGN}\nsaid other than ${lines} line(s) on stderr:\n${err}")
  endif()
endfunction()
function(expect status pattern)
  expect_lines(${status} 1 "${pattern}" ${ARGN})
endfunction()
# Files a row must have left behind, or not.
function(expect_no_files)
  file(GLOB left ${ARGN})
  if(left)
    message(SEND_ERROR "left behind: ${left}")
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
expect(1 "\"recording_frames\": [1-9], \"recording_dropped\": [1-9][0-9]*, \"recording_complete\": false.*stopped after [1-9] of 20 frames: File too large"
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
expect(2 "cannot read '.*': it is a folder" ${Z} checksum CRC32 ${DIR})
expect(2 "cannot read 'no_such_file': No such file" ${Z} checksum CRC00 no_such_file)
# Read in chunks, so of any size; but a device or a pipe is refused, never read for ever.
expect(2 "cannot read '/dev/zero': not a regular file" ${Z} checksum CRC32 /dev/zero)
expect(2 "cannot read 'pipe': not a regular file" ${Z} checksum CRC32 pipe)
# The camera's script and the switch configuration: a regular file of a few lines, or refused.
expect(1 "Could not read the script file '/dev/zero': not a regular file" ${Z} command 90 Filename=/dev/zero)
expect(1 "Could not read the script file 'pipe': not a regular file" ${Z} command 90 Filename=pipe)
expect(1 "Could not read the script file 'big': larger than 1 MiB" ${Z} command 90 Filename=big)
expect(0 "cannot read '/dev/zero': not a regular file"
       ${CMAKE_COMMAND} -E env ZRF_CONFIG=/dev/zero ZRF_LOG=trace ${Z} grab --frames 1 --fast --quiet)
expect(0 "cannot read 'pipe': not a regular file"
       ${CMAKE_COMMAND} -E env ZRF_CONFIG=pipe ZRF_LOG=trace ${Z} grab --frames 1 --fast --quiet)
expect(2 "^zrfgrab replay: cannot open the recording 'nosuch.zrec': No such file or directory\n$"
       ${Z} replay nosuch.zrec)
# Every frame's image damaged (one byte each): nothing to replay.
execute_process(COMMAND sh -c "cp rec.zrec bad.zrec && for at in 5064 622084 1239104; do printf X | dd of=bad.zrec bs=1 seek=$at conv=notrunc 2>/dev/null; done"
                WORKING_DIRECTORY ${DIR})
expect(2 "'bad.zrec' holds no complete frame to replay" ${Z} replay bad.zrec)
# One frame damaged: the others play, and the replay says what it passed over.
execute_process(COMMAND sh -c "cp rec.zrec part.zrec && printf X | dd of=part.zrec bs=1 seek=622084 conv=notrunc 2>/dev/null"
                WORKING_DIRECTORY ${DIR})
expect(0 "frames delivered +4.*'part.zrec': 1 damaged frame skipped \\(failing its checksum"
       ${Z} replay part.zrec --frames 4 --fast)
# Folders that cannot be made.
expect(2 "'afile' is not a folder" ${Z} export rec.zrec --zrf afile)
expect(1 "cannot create the folder '/proc/x'" ${Z} export rec.zrec --zrf /proc/x)
expect(1 "cannot create the folder 'zrfgrab-out'" ${Z})
# A recording's cost is said before it starts; one into a folder names the file it made.
expect(0 "recording to 'cost.zrec': about 617 KB a frame, 277.6 MB a minute"
       ${Z} grab --rate-index 0 --frames 1 --fast --record cost.zrec)
expect(0 "frames lost +0\ncalibrations +0\nrecording +recdir/recording_0001.zrec \\(1 frame, 617 KB\\)"
       ${Z} grab --frames 1 --fast --quiet --record recdir)
# A summary in JSON is one whole object, whatever the length of the paths it names.
string(REPEAT "x" 200 long)
file(MAKE_DIRECTORY ${DIR}/${long}/${long})
execute_process(COMMAND ${Z} grab --frames 1 --fast --quiet --json --record ${long}/${long}/r.zrec
                        --png ${long}/${long}/p.png
                WORKING_DIRECTORY ${DIR} OUTPUT_VARIABLE json RESULT_VARIABLE rc)
string(JSON picture ERROR_VARIABLE bad GET "${json}" picture)
if(NOT rc EQUAL 0 OR bad OR NOT picture STREQUAL "${long}/${long}/p.png")
  message(SEND_ERROR "a JSON summary naming long paths is not whole (status ${rc}, ${bad}): ${json}")
endif()
file(REMOVE_RECURSE ${DIR}/${long})
# A pre-recording of more frames than the device's own default holds all of them.
expect(0 "recording +pre.zrec \\(215 frames" ${Z} grab --pre-record 205 --frames 10 --fast --quiet --record pre.zrec)
file(REMOVE ${DIR}/pre.zrec)
# Two runs at once: a recording has one writer, the second is refused before it starts; two
# runs into one folder take a number each.
expect(0 "--record 'both.zrec': another run is recording to it"
       sh -c "${Z} grab --frames 200 --quiet --record both.zrec &\nsleep 2\n${Z} grab --frames 30 --quiet --record both.zrec\nwait")
expect(0 "frames +200 .*ending +clean" ${Z} info both.zrec)
file(MAKE_DIRECTORY ${DIR}/two)
expect(0 "" sh -c "${Z} grab --frames 20 --fast --quiet --record two &\n${Z} grab --frames 20 --fast --quiet --record two\nwait")
expect(0 "frames +20 .*ending +clean" ${Z} info two/recording_0001.zrec)
expect(0 "frames +20 .*ending +clean" ${Z} info two/recording_0002.zrec)
# A run that fails before its first frame replaces nothing, and leaves nothing.
file(COPY_FILE ${DIR}/rec.zrec ${DIR}/keep.zrec)
expect(1 "cannot write the recording 'keep.zrec': File too large"
       prlimit --fsize=10 ${Z} grab --frames 5 --fast --quiet --record keep.zrec)
expect(0 "frames +3 .*ending +clean" ${Z} info keep.zrec)
# Every signal that asks a run to end, and a reader that goes away, end it cleanly: the summary,
# the reason, the shell's status, and the recording whole.
expect(143 "frames delivered.*ended by SIGTERM"
       timeout --preserve-status -s TERM 3 ${Z} grab --seconds 600 --quiet --record term.zrec)
expect(0 "ending +clean" ${Z} info term.zrec)
expect(129 "frames delivered.*ended by SIGHUP"
       timeout --preserve-status -s HUP 3 ${Z} grab --seconds 600 --quiet --record hup.zrec)
expect(0 "ending +clean" ${Z} info hup.zrec)
expect(130 "frames delivered.*ended by Ctrl-C"
       bash -c "env --default-signal=INT ${Z} grab --seconds 600 --quiet --record int2.zrec --png int2.png &\np=$!\nsleep 3\nkill -INT $p\nkill -INT $p\nwait $p")
expect(0 "ending +clean" ${Z} info int2.zrec)
# Output that cannot be written fails a command that did its work, whatever it printed: 1 on a
# full disk, 141 when the reader is gone (a pipe without one from the start), as for a grab.
foreach(command "--help" "list" "info rec.zrec" "checksum CRC32 rec.zrec" "export rec.zrec --zrf lostout")
  expect(1 "cannot write the output: No space left on device" sh -c "${Z} ${command} >/dev/full")
  expect(141 "cannot write the output: Broken pipe"
         bash -c "rm -f gone.pipe\nmkfifo gone.pipe\nexec 3<>gone.pipe 4>gone.pipe 3<&-\n${Z} ${command} >&4")
endforeach()
# A signal ignored when the run began (nohup; a shell's background job ignores Ctrl-C) stays
# ignored: the run goes on to its end.
expect(0 "frames delivered +60 .*recording +nohup.zrec \\(60 frames"
       bash -c "trap '' HUP\n${Z} grab --frames 60 --quiet --record nohup.zrec &\np=$!\nsleep 1\nkill -HUP $p\nkill -INT $p\nwait $p")
expect(141 "recording to 'closed.zrec'"
       bash -c "${Z} grab --seconds 600 --json --record closed.zrec 2>&1 >closed.json | head -1\nexit \${PIPESTATUS[0]}")
file(READ ${DIR}/closed.json closed)
if(NOT closed MATCHES "\"recording_complete\": true.*\"ended_by\": \"a closed output\"")
  message(SEND_ERROR "a run ended by a closed pipe gave no summary: ${closed}")
endif()
expect(0 "ending +clean" ${Z} info closed.zrec)
# One failure hides neither another nor the summary: a full disk stops the recording, the
# picture's folder is gone by the end; each said on its own line, the JSON holding both.
file(MAKE_DIRECTORY ${DIR}/gone)
expect_lines(1 2 "\"recording_frames\": 1, .*\"errors\": \\[\"the recording 'full2.zrec' stopped after 1 of 60 frames: File too large\", \"cannot write 'gone/p.png'"
       prlimit --fsize=700000 sh -c "${Z} grab --frames 60 --quiet --json --record full2.zrec --png gone/p.png &\nsleep 1\nrm -r gone\nwait $!")
# A picture's temporary twin has a short name of its own: the longest name that fits is written.
string(REPEAT "a" 246 long)
expect(0 "picture +${long}.png" ${Z} grab --frames 1 --fast --quiet --png ${long}.png)
# Pre-recording: the recording also holds the frames before its start.
expect(0 "recording +pre.zrec \\(15 frames" ${Z} grab --frames 10 --pre-record 5 --fast --quiet --record pre.zrec)
expect(0 "frames +15 .*lost frames +none" ${Z} info pre.zrec)
# An identity a user saves streams; one naming no camera says so.
execute_process(COMMAND ${Z} list --identity usb-ir OUTPUT_FILE ${DIR}/usb-ir.xml)
expect(0 "frames delivered +3" ${Z} grab --identity usb-ir.xml --frames 3 --fast --quiet)
file(WRITE ${DIR}/nowhere.xml "<Camera Name=\"x\" Hostname=\"\\\\?\\nowhere\" Identifier=\"NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0\" InterfaceIndex=\"0\" SelectedFormatId=\"\" ModelName=\"Line_K\" />")
expect(2 "no camera has the device path" ${Z} grab --identity nowhere.xml --frames 3 --fast --quiet)
# Ctrl-C during an export: the files written are whole, and no temporary is left.
expect(130 "pictures? written to expng.*ended by Ctrl-C"
       bash -c "env --default-signal=INT ${Z} export both.zrec --png expng &\np=$!\nsleep 1\nkill -INT $p\nwait $p")
expect_no_files(${DIR}/expng/.out-* ${DIR}/.out-* ${DIR}/.rec-*)
# The open formats fail as the other outputs do: checked before any work, written whole or not
# at all, nothing but a regular file replaced; a recording that ends early gives what it holds.
if(EXPORTS_OPEN_FORMATS)
  file(CREATE_LINK target.txt ${DIR}/link.tif SYMBOLIC)
  file(MAKE_DIRECTORY ${DIR}/folder.mkv ${DIR}/csvlink)
  file(CREATE_LINK ../target.txt ${DIR}/csvlink/frames.csv SYMBOLIC)
  file(WRITE ${DIR}/kept.tif "kept")
  file(WRITE ${DIR}/kept.mkv "kept")
  execute_process(COMMAND head -c 1000000 ${DIR}/rec.zrec OUTPUT_FILE ${DIR}/early.zrec)
  expect(2 "--tiff 'link.tif': not a regular file" ${Z} export rec.zrec --tiff link.tif)
  expect(2 "--video 'folder.mkv': it is a folder" ${Z} export rec.zrec --video folder.mkv)
  expect(2 "--video writes Matroska: name the file FILE.mkv, not 'v.avi'" ${Z} export rec.zrec --video v.avi)
  expect(2 "--video '/proc/v.mkv': cannot create files in '/proc'" ${Z} export rec.zrec --video /proc/v.mkv)
  expect(2 "--csv 'csvlink/frames.csv': not a regular file" ${Z} export rec.zrec --csv csvlink)
  expect(2 "'afile' is not a folder" ${Z} export rec.zrec --png16 afile)
  expect(2 "choose one of --png, --zrf, --sample, --tiff, --png16, --csv and --video"
         ${Z} export rec.zrec --tiff t.tif --csv c)
  expect(1 "cannot write 'kept.tif': .*File too large" prlimit --fsize=1000000 ${Z} export rec.zrec --tiff kept.tif)
  expect(1 "cannot write 'kept.mkv': .*File too large" prlimit --fsize=100000 ${Z} export rec.zrec --video kept.mkv)
  expect(1 "cannot write 'p16/frame_000001.png': Write Error \\(File too large\\)"
         prlimit --fsize=100000 ${Z} export rec.zrec --png16 p16)
  expect(1 "cannot write 'fullcsv/frame_000001.csv': File too large" prlimit --fsize=100000 ${Z} export rec.zrec --csv fullcsv)
  expect_lines(1 2 "^1 frame written to early.tif \\(#1 to #1, 640x480\\)\nzrfgrab export: 'early.zrec' ends early, after frame 1: it is cut short.*1 frame left out"
         ${Z} export early.zrec --tiff early.tif)
  # Ctrl-C during a video: the frames before it, in a whole file; no temporary left.
  expect(130 "frames? written to stopped.mkv .*ended by Ctrl-C"
         bash -c "env --default-signal=INT ${Z} export both.zrec --video stopped.mkv &\np=$!\nsleep 1\nkill -INT $p\nwait $p")
  expect_no_files(${DIR}/.out-* ${DIR}/p16/.out-* ${DIR}/fullcsv/.out-* ${DIR}/fullcsv/frames.csv)
  file(READ ${DIR}/kept.tif kept_tif)
  file(READ ${DIR}/kept.mkv kept_mkv)
  if(NOT kept_tif STREQUAL "kept" OR NOT kept_mkv STREQUAL "kept" OR NOT IS_SYMLINK ${DIR}/link.tif
     OR NOT EXISTS ${DIR}/stopped.mkv)
    message(SEND_ERROR "an open-format export clobbered a file or kept no stopped video")
  endif()
endif()
# An IEEE-1394 recording's sample decodes back to its image, as a USB one's does.
expect(0 "" ${Z} grab --camera fw-ir --windowing 2 --frames 4 --fast --quiet --record fw.zrec)
expect(0 "--source 1394 --size 640x240" ${Z} export fw.zrec --frames 3 --sample fwsamples)
expect(0 "" ${Z} decode --subtype F7M0 --source 1394 --size 640x240 --camera-time fwsamples/frame_000003.raw fwround.zrf)
expect(0 "" ${Z} export fw.zrec --frames 3 --zrf fwimages)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/fwround.zrf ${DIR}/fwimages/frame_000003.zrf
                RESULT_VARIABLE fwdiffer)
if(fwdiffer)
  message(SEND_ERROR "an IEEE-1394 sample did not decode back to its image")
endif()
# Arguments are checked before streaming.
expect(2 "--png '/proc/x.png': cannot create files in '/proc'" ${Z} grab --frames 1 --fast --quiet --png /proc/x.png)
expect(2 "the camera does not offer the format IR" ${Z} grab --camera webcam --frames 1 --fast --quiet)
expect(2 "an IEEE-1394 camera streams only the radiometric format \\(IR\\), not YUY2"
       ${Z} grab --camera fw-ir --format YUY2 --frames 1 --fast --quiet --png fwy.png)
expect(2 "--frames is given twice" ${Z} grab --frames 1 --frames 2)
expect(2 "--palette goes with --png only" ${Z} export rec.zrec --zrf e9 --palette grey)
expect(2 "--frames takes N, A-B or A- \\(frames count from 1\\), not '-5'" ${Z} export rec.zrec --frames -5 --zrf e9)
expect(2 "unknown type 'Float'" ${Z} command 41 Index:Float=1)
expect(2 "'abc' is not a value of type Int32" ${Z} command 41 Index:Int32=abc)
expect(2 "'=1' names no parameter" ${Z} command 41 =1)
expect(2 "OUT 'rec.zrec' is the SAMPLE itself" ${Z} ${decode} rec.zrec rec.zrec)
expect(0 "^usage: zrfgrab grab " ${Z} help grab)
expect(2 "--camera is given twice" ${Z} command 40 --camera usb-ir --camera fw-ir)
expect(2 "--size is given twice" ${Z} decode --subtype F7M0 --source usb --size 4x4 --size 8x8 a b)
# What the tool prints is well-formed whatever a name holds: bytes that are not UTF-8 included.
expect(0 "\"picture\": \"bad\\\\ufffdname.png\""
       bash -c "${Z} grab --frames 1 --fast --quiet --json --png bad$(printf '\\377')name.png")
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
expect(0 "frame rate +7.5[0-9]* fps.*lost frames +none.*ending +clean" ${Z} info rec.zrec)
expect(0 "\"picture\": \"sp ace\\\\\"q\\\\\"\\.png\"" ${Z} grab --frames 1 --fast --quiet --json --png "sp ace\"q\".png")
# Help, a replay that loops, Ctrl-C, and the device disposed before it is let go.
expect(0 "usage: zrfgrab grab .*--identifier ID" ${Z} grab --help)
expect(0 "main job.*--identifier ID.*--pre-record N.*--plugin PATH.*Exit status" ${Z} --help)
expect(0 "'rec.zrec' holds 3 frames; replay plays them again" ${Z} replay rec.zrec --frames 5 --fast)
expect(130 "frames delivered.*ended by Ctrl-C" timeout --foreground --preserve-status -s INT 3 ${Z} grab --seconds 600 --quiet)
expect(0 "END CaptureDevice::~CaptureDevice" ${CMAKE_COMMAND} -E env ZRF_LOG=trace
       ZRF_SWITCHES=Vorn.CaptureDevice=Verbose ${Z} grab --frames 1 --fast --quiet)

file(READ ${DIR}/target.txt kept)
file(READ ${DIR}/kept.png kept_png)
file(GLOB left ${DIR}/p7.* ${DIR}/out8.zrf* ${DIR}/kept.png.* ${DIR}/.out-* ${DIR}/.rec-* ${DIR}/fwy.png)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/round.zrf ${DIR}/images/frame_000001.zrf
                RESULT_VARIABLE differ)
if(NOT kept STREQUAL "kept" OR NOT kept_png STREQUAL "kept" OR NOT IS_SYMLINK ${DIR}/link.png OR left OR differ)
  message(SEND_ERROR "clobbered or left behind: target '${kept}', files ${left}, round trip ${differ}")
endif()
