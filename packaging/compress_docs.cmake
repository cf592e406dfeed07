# Run by cpack on the staged tree before the Debian package is made:
# compresses the manual pages and the changelog as Debian wants them
# (gzip -9, no name or time stamp inside, so the package is reproducible).
file(GLOB_RECURSE docs
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/man/*"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/doc/*/changelog")
foreach(doc IN LISTS docs)
  if(NOT doc MATCHES "\\.gz$")
    execute_process(COMMAND gzip -9nf "${doc}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${doc}")
    endif()
  endif()
endforeach()
