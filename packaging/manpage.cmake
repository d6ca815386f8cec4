# Writes meterfix(1) from `meterfix --help` with help2man and the sections of
# meterfix.h2m, then tidies what help2man cannot know about the help's layout:
# the option-field list becomes tagged paragraphs, the command lines of the
# settings section keep their own lines, and the date takes a form every
# manual reader parses. Run as:
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=... -DOUTPUT=... -P manpage.cmake
# OUTPUT gets the page and OUTPUT.gz its compressed copy for installing.
foreach(var HELP2MAN PROGRAM INCLUDE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "manpage.cmake: ${var} is not set")
  endif()
endforeach()

execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --manual=User\ Commands --source=KQ\ Meterfix
          "--name=derive time signatures from the beaming of MusicXML scores"
          --include=${INCLUDE} ${PROGRAM}
  OUTPUT_VARIABLE page
  RESULT_VARIABLE status
  ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed (${status}): ${errors}")
endif()

# "NAME (default N)" / "NAME (0..8192, default N)" followed by its help line.
string(REGEX REPLACE
       "\\.IP\n([A-Za-z]+(\\[[0-9]+\\])?) (\\([^\n]*\\))\n\\.IP\n"
       ".TP\n\\\\fB\\1\\\\fR \\3\n" page "${page}")
string(REGEX REPLACE "\n(meterfix (options|presets) [^\n]*)" "\n.br\n\\1" page "${page}")
string(REPLACE ".IP\n.br\n" ".IP\n" page "${page}")

# A reproducible date: SOURCE_DATE_EPOCH when set, as Debian's tools do.
string(TIMESTAMP date "%Y-%m-%d" UTC)
string(REGEX REPLACE "(\\.TH [^\n]*\"1\" )\"[^\"]*\"" "\\1\"${date}\"" page "${page}")

file(WRITE ${OUTPUT} "${page}")
execute_process(COMMAND gzip -9n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip of ${OUTPUT} failed")
endif()
