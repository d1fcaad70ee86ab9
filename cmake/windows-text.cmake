# Writes a text file of the Windows zip with CR LF line ends: a copy of a text file, or, with GROFF
# given, a manual page rendered as plain text (no bold or underline, no page breaks).
#   cmake -DIN=<file> -DOUT=<file> [-DGROFF=<groff>] -P cmake/windows-text.cmake
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -Tascii -ww -P-cbou ${IN}
                  OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${GROFF} could not render ${IN} (status ${status}):\n${warnings}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
