# `cpack -G DEB` in the build folder packages what `cmake --install` installs,
# under /usr. The package depends on the shared libraries that the programs
# and the codec module link, as dpkg-shlibdeps finds them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME unpak)
set(CPACK_PACKAGE_CONTACT "unpak maintainers <maintainers@users.noreply.c-seed-7ac60a87.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unpack .pak archives of MP3-compressed game audio")
set(CPACK_PACKAGE_DESCRIPTION "unpak unpacks every entry of a .pak archive into a WAV file;
pak lists, tests, extracts, creates and updates such archives.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
