# Runs one example program and fails unless it ends with the expected exit status.
execute_process(COMMAND ${PROGRAM} ${ARGUMENTS} RESULT_VARIABLE status)
if(NOT status STREQUAL EXPECTED_STATUS)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}, expected ${EXPECTED_STATUS}")
elseif(NOT status STREQUAL "0")
  message("(exit status ${status}, as expected)")
endif()
