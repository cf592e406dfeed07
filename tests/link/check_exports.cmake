# Checks that the device link library exports exactly the nine PX418_
# functions. Run with -DNM=<nm> -DLIBRARY=<libpx418usb.so>.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}: ${result}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(symbols)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" symbol "${line}")
  list(APPEND symbols "${symbol}")
endforeach()
list(SORT symbols)
set(expected PX418_CloseDevice PX418_GetInfo PX418_GetLastError PX418_GetMode PX418_GetPar
    PX418_GetSelPar PX418_OpenDevice PX418_SetMode PX418_SetPar)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${symbols}")
endif()
message(STATUS "exports: ${symbols}")
