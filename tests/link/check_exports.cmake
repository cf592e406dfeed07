# Checks that the device link library exports exactly the nine PX418_
cmake_policy(VERSION 3.25)
# functions. Run with -DNM=<nm> -DLIBRARY=<libpx418usb.so>, or for Windows
# with -DOBJDUMP=<objdump> -DLIBRARY=<px418usb.dll> -DPROGRAM=<px418demo.exe>:
# there the DLL's export table is read, and the DLL and the program must
# import the system's DLLs only (the program also px418usb.dll), so that
# nothing of the compiler's run time has to be shipped beside them.
set(expected PX418_CloseDevice PX418_GetInfo PX418_GetLastError PX418_GetMode PX418_GetPar
    PX418_GetSelPar PX418_OpenDevice PX418_SetMode PX418_SetPar)

# The lines of `command`'s output.
function(output_lines command out)
  execute_process(COMMAND ${command} ${ARGN} OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${command} ${ARGN} failed: ${result}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# The DLL names that a PE file imports, in lower case.
function(pe_imports file out)
  output_lines(${OBJDUMP} ${out}_lines -p ${file})
  set(dlls)
  foreach(line IN LISTS ${out}_lines)
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
      string(TOLOWER "${CMAKE_MATCH_1}" dll)
      list(APPEND dlls "${dll}")
    endif()
  endforeach()
  set(${out} "${dlls}" PARENT_SCOPE)
endfunction()

set(symbols)
if(OBJDUMP)
  # The name pointer table: "\t[   0] +base[   1] 0000 PX418_CloseDevice".
  output_lines(${OBJDUMP} lines -p ${LIBRARY})
  set(in_table FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^[ \t]+\\[ *[0-9]+\\].* ([^ ]+)$")
      list(APPEND symbols "${CMAKE_MATCH_1}")
    elseif(in_table)
      set(in_table FALSE)
    endif()
  endforeach()

  # What Windows itself brings: the C run time and the kernel's DLLs.
  set(system_dlls kernel32.dll msvcrt.dll ucrtbase.dll advapi32.dll ntdll.dll user32.dll)
  foreach(file IN ITEMS ${LIBRARY} ${PROGRAM})
    pe_imports(${file} dlls)
    foreach(dll IN LISTS dlls)
      if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-"
         AND NOT (file STREQUAL PROGRAM AND dll STREQUAL "px418usb.dll"))
        message(FATAL_ERROR "${file} imports ${dll}, which is not a system DLL (imports: ${dlls})")
      endif()
    endforeach()
    message(STATUS "${file} imports: ${dlls}")
  endforeach()
else()
  output_lines(${NM} lines -D --defined-only ${LIBRARY})
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" symbol "${line}")
    list(APPEND symbols "${symbol}")
  endforeach()
endif()

list(SORT symbols)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${symbols}")
endif()
message(STATUS "exports: ${symbols}")
