# Regenerates the example archive with its tool and compares it with the
# committed copy, so the two never drift apart.
# Inputs: TOOL (make_example_pak), EXPECTED (committed archive), ACTUAL (scratch path).
execute_process(COMMAND ${TOOL} ${ACTUAL} RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed: ${made}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXPECTED} ${ACTUAL}
                RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} differs from what make_example_pak writes; "
                      "regenerate it with: make_example_pak ${EXPECTED}")
endif()
