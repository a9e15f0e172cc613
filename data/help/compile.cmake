# Runs the help compiler in WORK on Help.hhp. Quiet when all is well; the
# compiler's report is shown, and the build fails, when it fails or warns
# (a page the project lists but that does not exist, a link to nowhere).
execute_process(
  COMMAND ${CHMCMD} --html-scan --verbosity 1 Help.hhp
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR out MATCHES "(Warning|Error|exception)")
  message(FATAL_ERROR "The help in ${WORK} did not compile cleanly:\n${out}")
endif()
if(NOT EXISTS ${WORK}/Help.chm)
  message(FATAL_ERROR "The help compiler wrote no Help.chm in ${WORK}:\n${out}")
endif()
