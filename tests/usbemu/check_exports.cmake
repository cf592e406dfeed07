# Checks that the emulation defines every libusb function that libftdi1
# takes from libusb, and the ones a driver on top of libftdi1 calls itself,
# and that it exports nothing but libusb_ functions and the control
# interface. Run with -DNM=<nm> -DLIBFTDI=<libftdi1.so> -DLIBRARY=<the emulation>.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -D --undefined-only ${LIBFTDI}
                OUTPUT_VARIABLE wanted_listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBFTDI}: ${result}")
endif()
string(REGEX MATCHALL "libusb_[a-z0-9_]+" wanted "${wanted_listing}")
list(APPEND wanted
  libusb_kernel_driver_active libusb_attach_kernel_driver libusb_detach_kernel_driver
  libusb_get_port_numbers libusb_get_port_number libusb_get_device libusb_has_capability
  libusb_hotplug_register_callback libusb_hotplug_deregister_callback
  libusb_handle_events libusb_handle_events_completed libusb_error_name libusb_strerror
  libusb_set_option libusb_get_version)
list(REMOVE_DUPLICATES wanted)

execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}: ${result}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(defined)
set(stray)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-f]* *[A-Za-z] " "" symbol "${line}")
  if(symbol MATCHES "^libusb_")
    list(APPEND defined "${symbol}")
  elseif(NOT symbol MATCHES "^usbemu::[A-Z]")
    list(APPEND stray "${symbol}")
  endif()
endforeach()

set(missing)
foreach(symbol IN LISTS wanted)
  if(NOT symbol IN_LIST defined)
    list(APPEND missing ${symbol})
  endif()
endforeach()
if(missing OR stray)
  message(FATAL_ERROR "missing: ${missing}\nexported but foreign: ${stray}")
endif()
list(LENGTH wanted count)
message(STATUS "all ${count} libusb functions wanted are there")
