# CPack (DEB), after the files are installed into the package's staging folder: the manual page
# compressed as Debian keeps manual pages (gzip -9n, no name or time stamp in the file).
file(GLOB_RECURSE pages ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.1)
if(NOT pages)
  message(FATAL_ERROR "no manual page below ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(page ${pages})
  execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${page}")
  endif()
endforeach()
