# Writes zelvor-cli's man page with help2man: the program's own --help and
# --version, and each command's --help as a COMMANDS section, so the page
# says exactly what the program says. Run with cmake -P:
#   -DPROGRAM=zelvor-cli -DHELP2MAN=help2man -DOUTPUT=zelvor-cli.1
set(include ${OUTPUT}.include)
file(WRITE ${include} "[COMMANDS]\n")
foreach(command classes run ping post)
  execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${command} --help failed: ${status}")
  endif()
  # The footer of exit codes is the main page's; roff takes a leading dot
  # or backslash as its own.
  string(REGEX REPLACE "\nExit codes:.*" "" help "${help}")
  string(REPLACE "\\" "\\e" help "${help}")
  file(APPEND ${include} ".SS ${command}\n.nf\n${help}\n.fi\n")
endforeach()
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1
          --name "measure round trips to test servers or hosts from a terminal"
          --include ${include} --output ${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${status}")
endif()
file(REMOVE ${include})
