# Runs PROGRAM as a web server runs it for a GET of the form and writes its whole response (header
# and page) into OUTPUT as a C array, form_response, for the page printer. WORKDIR takes the
# program's trace file.
file(MAKE_DIRECTORY ${WORKDIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=QUERY_STRING --unset=CONTENT_TYPE --unset=CONTENT_LENGTH
          REQUEST_METHOD=GET GATEWAY_INTERFACE=CGI/1.1 SCRIPT_NAME=/apply.cgi ${PROGRAM}
  OUTPUT_FILE ${OUTPUT}.raw
  RESULT_VARIABLE status
  WORKING_DIRECTORY ${WORKDIR})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${status}")
endif()
file(READ ${OUTPUT}.raw hex HEX)
string(LENGTH "${hex}" hex_len)
if(hex_len EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} printed nothing")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${PROGRAM}'s response to a GET of its form.\n"
                     "static const unsigned char form_response[] = {\n${bytes}};\n")
file(REMOVE ${OUTPUT}.raw)
