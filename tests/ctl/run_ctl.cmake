# Runs px418ctl once with PX418USB_DRIVER=DRIVER and checks its exit status
# (EXPECT), its standard output and error against regular expressions
# (STDOUT, STDERR, when given) and, with FILE_REGEX, the file @FILE@ names.
# ARGS separates the arguments with "|"; INPUT is copied to @FILE@ first.
set(ENV{PX418USB_DRIVER} "${DRIVER}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(file "${WORK}/file.par")
if(INPUT)
  file(COPY_FILE "${INPUT}" "${file}")
endif()
string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "@FILE@" "${file}" args "${args}")

execute_process(COMMAND ${PROGRAM} ${args}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "px418ctl ${args}\nexit ${result}\nstdout:\n${out}\nstderr:\n${err}")
if(NOT result STREQUAL EXPECT)
  message(FATAL_ERROR "exit status ${result}, expected ${EXPECT}")
endif()
if(NOT STDOUT STREQUAL "" AND NOT out MATCHES "${STDOUT}")
  message(FATAL_ERROR "standard output does not match: ${STDOUT}")
endif()
if(NOT STDERR STREQUAL "" AND NOT err MATCHES "${STDERR}")
  message(FATAL_ERROR "standard error does not match: ${STDERR}")
endif()
if(NOT FILE_REGEX STREQUAL "")
  file(READ "${file}" content)
  message(STATUS "file:\n${content}")
  if(NOT content MATCHES "${FILE_REGEX}")
    message(FATAL_ERROR "the file does not match: ${FILE_REGEX}")
  endif()
endif()
