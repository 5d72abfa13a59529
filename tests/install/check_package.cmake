# Builds the Debian package with cpack in a scratch folder and checks it
# without installing it: its files, that it depends on the codec libraries,
# that pak unpacked from it anywhere finds its codec module, and, where
# lintian is installed, that lintian finds no error in it.
# Inputs: CPACK, CONFIG (the build's CPackConfig.cmake), WORK (scratch folder),
# ARCHIVE (an archive that pak lists cleanly).
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "${ARGN} failed (${failed}):\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CPACK} -G DEB --config ${CONFIG} -B ${WORK})
file(GLOB package ${WORK}/*.deb)

run(dpkg-deb -c ${package})
foreach(file bin/unpak bin/pak "lib/([^/]+/)?unpak/unpak_codec.so" share/man/man1/unpak.1.gz
             share/man/man1/pak.1.gz share/doc/unpak/copyright share/doc/unpak/changelog.gz)
  if(NOT out MATCHES " \\./usr/${file}\n")
    message(FATAL_ERROR "${package} holds no usr/${file}:\n${out}")
  endif()
endforeach()

run(dpkg-deb -f ${package} Depends)
foreach(library libc6 libstdc\\+\\+6 libmpg123-0 libsoxr0 libgsm1)
  if(NOT out MATCHES "(^|, )${library}[ ,\n]")
    message(FATAL_ERROR "${package} does not depend on ${library}: ${out}")
  endif()
endforeach()

run(dpkg-deb -x ${package} ${WORK}/root)
run(${WORK}/root/usr/bin/pak list ${ARCHIVE})

find_program(LINTIAN lintian)
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} ${package} OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(out MATCHES "(^|\n)E: ")
    message(FATAL_ERROR "lintian finds errors in ${package}:\n${out}")
  endif()
endif()
