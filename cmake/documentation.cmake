# SPDX-License-Identifier: MIT
# What a host developer reads besides the headers: the README, the CHANGELOG, the guide, the
# example hosts and, when Doxygen is there, the API reference made from the public headers.

include(GNUInstallDirs)
# One folder for the documentation, named as the Debian package is (a Debian package name has
# no underscore), so that the package's copyright file sits where Debian looks for it.
set(OVK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ovk-client)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/docs/host-guide.md
  DESTINATION ${OVK_DOC_DIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${OVK_DOC_DIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${OVK_DOC_DIR} RENAME copyright
  COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/host-c ${PROJECT_SOURCE_DIR}/examples/host-cpp
                  ${PROJECT_SOURCE_DIR}/examples/nightly
  DESTINATION ${OVK_DOC_DIR}/examples COMPONENT development)

# `make docs` (the target `docs`): the API reference in build/docs/api/html. Every warning of
# Doxygen (an undocumented public member, a broken reference) fails it.
find_program(OVK_DOXYGEN doxygen)
if(OVK_DOXYGEN)
  set(OVK_DOXYGEN_OUTPUT ${PROJECT_BINARY_DIR}/docs/api)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
  file(GLOB ovk_public_headers ${PROJECT_SOURCE_DIR}/include/ovk/*)
  add_custom_command(
    OUTPUT ${OVK_DOXYGEN_OUTPUT}/html/index.html
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${OVK_DOXYGEN_OUTPUT}
    COMMAND ${OVK_DOXYGEN} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    DEPENDS ${ovk_public_headers} ${PROJECT_BINARY_DIR}/include/ovk/version.h
            ${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_SOURCE_DIR}/docs/host-guide.md
    COMMENT "Making the API reference with Doxygen"
    VERBATIM)
  add_custom_target(docs DEPENDS ${OVK_DOXYGEN_OUTPUT}/html/index.html)
  # Installed when it was made: an install never waits for Doxygen.
  install(DIRECTORY ${OVK_DOXYGEN_OUTPUT}/html/ DESTINATION ${OVK_DOC_DIR}/api
    COMPONENT development OPTIONAL)
endif()
