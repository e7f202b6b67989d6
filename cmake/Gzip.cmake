# cmake -DINPUT=file [-DMAN=man] -DOUTPUT=file.gz -P Gzip.cmake
# Compresses as Debian wants it; with MAN, first checks the man page the way
# lintian does, and any warning of man's is a failure.
if(MAN)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                          ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${INPUT}
                  OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR warnings)
    message(FATAL_ERROR "man --warnings on ${INPUT}:\n${warnings}")
  endif()
endif()
# -n: no name or time in the header, so the same file gives the same bytes.
execute_process(COMMAND gzip -9nc ${INPUT} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip failed on ${INPUT}")
endif()
