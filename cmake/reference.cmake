# The generated reference (HTML and man pages) from the public headers' comments, when Doxygen is
# installed: `cmake --build BUILD --target reference`. With tests, a CTest test builds it too, and
# fails on any public name left undocumented.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(VOCANTA_REFERENCE_DIR ${PROJECT_BINARY_DIR}/reference)
  configure_file(${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile.in
                 ${PROJECT_BINARY_DIR}/reference/Doxyfile @ONLY)
  add_custom_target(reference
    COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/reference/Doxyfile
    COMMENT "Generating the library reference in ${VOCANTA_REFERENCE_DIR}" VERBATIM)
  if(VOCANTA_BUILD_TESTS)
    add_test(NAME reference.every_public_name_documented
             COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/reference/Doxyfile)
  endif()
  install(DIRECTORY ${VOCANTA_REFERENCE_DIR}/html/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/reference
          OPTIONAL)
  install(DIRECTORY ${VOCANTA_REFERENCE_DIR}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR} OPTIONAL)
endif()
