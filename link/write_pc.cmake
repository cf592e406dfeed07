# Writes px418usb.pc for the prefix of the installation that runs it
# (CMAKE_INSTALL_PREFIX at install time). Set before including: PC_TEMPLATE,
# PC_OUTPUT, PC_LIBDIR, PC_INCLUDEDIR (as GNUInstallDirs gives them,
# relative or absolute) and PC_VERSION.
foreach(dir IN ITEMS PC_LIBDIR PC_INCLUDEDIR)
  if(NOT IS_ABSOLUTE "${${dir}}")
    set(${dir} "\${prefix}/${${dir}}")
  endif()
endforeach()
set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
configure_file("${PC_TEMPLATE}" "${PC_OUTPUT}" @ONLY)
