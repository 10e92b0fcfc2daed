# The generated reference (HTML and man pages) from the public headers' comments, when Doxygen is
# installed. It is part of the default build (made again only when a public header changes), so
# that `cmake --install` installs it: the HTML under share/doc/vocanta-cgi/reference, the man
# pages (one per class and header, section 3) under share/man. It is made from the headers as
# they are installed, so that a page names a header by the path a program includes
# (<vocanta_cgi/cgi/cgi_request.h>). With tests, a CTest test makes it again and fails on any
# public name left undocumented, and on any call of Graphviz's dot, which it never needs.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(VOCANTA_REFERENCE_DIR ${PROJECT_BINARY_DIR}/reference)
  set(staged ${VOCANTA_REFERENCE_DIR}/include)
  set(VOCANTA_REFERENCE_INCLUDE_ROOT ${staged})
  set(inputs "")
  foreach(header IN LISTS VOCANTA_CGI_PUBLIC_HEADERS)
    configure_file(${PROJECT_SOURCE_DIR}/${header} ${staged}/vocanta_cgi/${header} COPYONLY)
    list(APPEND inputs ${staged}/vocanta_cgi/${header})
  endforeach()
  list(JOIN inputs " " VOCANTA_REFERENCE_INPUT)
  set(VOCANTA_REFERENCE_WARN_AS_ERROR NO)
  configure_file(${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile.in
                 ${VOCANTA_REFERENCE_DIR}/Doxyfile @ONLY)
  set(VOCANTA_REFERENCE_WARN_AS_ERROR FAIL_ON_WARNINGS)
  configure_file(${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile.in
                 ${VOCANTA_REFERENCE_DIR}/Doxyfile-check @ONLY)
  add_custom_command(OUTPUT ${VOCANTA_REFERENCE_DIR}/made
    COMMAND Doxygen::doxygen ${VOCANTA_REFERENCE_DIR}/Doxyfile
    COMMAND ${CMAKE_COMMAND} -E touch ${VOCANTA_REFERENCE_DIR}/made
    DEPENDS ${inputs} ${VOCANTA_REFERENCE_DIR}/Doxyfile ${PROJECT_SOURCE_DIR}/docs/reference/mainpage.md
    COMMENT "Generating the library reference in ${VOCANTA_REFERENCE_DIR}" VERBATIM)
  add_custom_target(reference ALL DEPENDS ${VOCANTA_REFERENCE_DIR}/made)
  if(VOCANTA_BUILD_TESTS)
    # A dot that fails stands first on the path: the reference is made as on a machine without
    # Graphviz.
    file(MAKE_DIRECTORY ${VOCANTA_REFERENCE_DIR}/no-graphviz)
    file(WRITE ${VOCANTA_REFERENCE_DIR}/no-graphviz/dot "#!/bin/sh\necho 'dot: not found' >&2\nexit 127\n")
    file(CHMOD ${VOCANTA_REFERENCE_DIR}/no-graphviz/dot PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    add_test(NAME reference.every_public_name_documented
             COMMAND ${CMAKE_COMMAND} -E env "PATH=${VOCANTA_REFERENCE_DIR}/no-graphviz:$ENV{PATH}"
                     $<TARGET_FILE:Doxygen::doxygen> ${VOCANTA_REFERENCE_DIR}/Doxyfile-check)
  endif()
  install(DIRECTORY ${VOCANTA_REFERENCE_DIR}/html/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vocanta-cgi/reference)
  install(DIRECTORY ${VOCANTA_REFERENCE_DIR}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR})
endif()
