# Makes the example archive afresh from its sources, the WAV files that
# make_example_wavs writes, with `pak create`, and compares it with the
# committed copy, so the two never drift apart.
# Inputs: WAVS (make_example_wavs), PAK (pak), EXPECTED (committed archive),
# SCRATCH (a scratch folder).
file(REMOVE_RECURSE ${SCRATCH})
execute_process(COMMAND ${WAVS} ${SCRATCH}/sources RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "${WAVS} failed: ${made}")
endif()
execute_process(COMMAND ${PAK} create ${SCRATCH}/example.pak -C ${SCRATCH}/sources .
                RESULT_VARIABLE created OUTPUT_QUIET)
if(NOT created EQUAL 0)
  message(FATAL_ERROR "pak create failed: ${created}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXPECTED} ${SCRATCH}/example.pak
                RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} differs from a fresh pak create of its sources; "
                      "regenerate it with: make_example_wavs DIR && pak create ${EXPECTED} -C DIR .")
endif()
