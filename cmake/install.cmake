# What `cmake --install` puts in place: the shared library (soname libvocanta_cgi.so.MAJOR) and
# the static archives, the public headers under include/vocanta_cgi/, a CMake package (VocantaCgi:
# imported targets VocantaCgi::cgi, shared, and VocantaCgi::cgi_static; with the component "gif",
# VocantaCgi::cgi_gif and VocantaCgi::cgi_gif_static), pkg-config files (vocanta-cgi,
# vocanta-cgi-gif; --static for a static program), and the reference (cmake/reference.cmake).
include(CMakePackageConfigHelpers)

set(VOCANTA_CGI_INCLUDE_ROOT ${CMAKE_INSTALL_INCLUDEDIR}/vocanta_cgi)
set(VOCANTA_CGI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VocantaCgi)

install(TARGETS platform trace cgi cgi_shared EXPORT VocantaCgiTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(VOCANTA_BUILD_GIF)
  install(TARGETS cgi_gif cgi_gif_shared EXPORT VocantaCgiGifTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT VocantaCgiGifTargets NAMESPACE VocantaCgi:: DESTINATION ${VOCANTA_CGI_CMAKE_DIR})
endif()
# The consumer's include path is the include folder itself: headers are named
# <vocanta_cgi/cgi/cgi_request.h>, and include their neighbours by relative paths. Only the
# headers of the public API (VOCANTA_CGI_PUBLIC_HEADERS, cgi/CMakeLists.txt), whose every call the
# shared library exports; the platform layer and the internals stay inside.
foreach(header IN LISTS VOCANTA_CGI_PUBLIC_HEADERS)
  get_filename_component(header_dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${VOCANTA_CGI_INCLUDE_ROOT}/${header_dir})
endforeach()

install(EXPORT VocantaCgiTargets NAMESPACE VocantaCgi:: DESTINATION ${VOCANTA_CGI_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VocantaCgiConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VocantaCgiConfig.cmake INSTALL_DESTINATION ${VOCANTA_CGI_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VocantaCgiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VocantaCgiConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/VocantaCgiConfigVersion.cmake
        DESTINATION ${VOCANTA_CGI_CMAKE_DIR})

# The .pc files name the prefix relative to their own folder, so the installed tree can move.
file(RELATIVE_PATH VOCANTA_PC_PREFIX_FROM_PCDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VOCANTA_PC_PREFIX_FROM_PCDIR ${VOCANTA_PC_PREFIX_FROM_PCDIR})
set(pc_files vocanta-cgi)
if(VOCANTA_BUILD_GIF)
  list(APPEND pc_files vocanta-cgi-gif)
endif()
foreach(pc IN LISTS pc_files)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
