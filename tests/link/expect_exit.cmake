# Runs PROGRAM (through EMULATOR, when given) with PX418USB_DRIVER=DRIVER and
# checks its exit code against EXPECT.
set(ENV{PX418USB_DRIVER} "${DRIVER}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "${out}${err}")
if(NOT result STREQUAL EXPECT)
  message(FATAL_ERROR "exit code ${result}, expected ${EXPECT}")
endif()
