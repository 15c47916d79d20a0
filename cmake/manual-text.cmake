# One manual page as plain text with CRLF line ends: groff -man for a
# terminal of 78 columns, with neither bold, underlining nor escapes.
execute_process(
  COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u -rLL=78n ${PAGE}
  OUTPUT_VARIABLE text
  RESULT_VARIABLE failed
  ERROR_VARIABLE said)
if(failed)
  message(FATAL_ERROR "groff could not format ${PAGE}: ${said}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
