# cmake -DMAN=man -DPAGE=page.1 -DOUTPUT=page.1.gz -P ManPage.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                        ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${PAGE}
                OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR warnings)
  message(FATAL_ERROR "man --warnings on ${PAGE}:\n${warnings}")
endif()
# -n: no name or time in the header, so the same page gives the same bytes.
execute_process(COMMAND gzip -9nc ${PAGE} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()
