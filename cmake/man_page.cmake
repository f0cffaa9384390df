# Writes a program's man page with help2man from its own --help and
# --version, so the page says exactly what the program says; each command
# named in COMMANDS adds its --help to a COMMANDS section. Run with cmake -P:
#   -DPROGRAM=zelvor-cli -DHELP2MAN=help2man -DSECTION=1 "-DSUMMARY=..."
#   -DCOMMANDS=classes,run -DOUTPUT=zelvor-cli.1
set(options --no-info --no-discard-stderr --section ${SECTION} --name ${SUMMARY})
string(REPLACE "," ";" COMMANDS "${COMMANDS}")
if(COMMANDS)
  set(include ${OUTPUT}.include)
  file(WRITE ${include} "[COMMANDS]\n")
  foreach(command IN LISTS COMMANDS)
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
  list(APPEND options --include ${include})
endif()
# A display would let a window program open one; --help never needs it.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
          ${HELP2MAN} ${options} --output ${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${status}")
endif()
if(include)
  file(REMOVE ${include})
endif()
