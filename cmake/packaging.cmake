# SPDX-License-Identifier: MIT
# `make package`: one Debian package, ovk-client, with the component, its headers and CMake and
# pkg-config files, the tools and the documentation, installed under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ovk-client)
set(CPACK_PACKAGE_VENDOR "the ovk_client developers")
set(CPACK_PACKAGE_CONTACT "ovk_client developers <ovk-client@lists.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "component that downloads master data from a SOAP service")
set(CPACK_PACKAGE_DESCRIPTION
    "ovk_client is loaded by host applications to download master data\n"
    "(articles, their components, symbol and GER records, documents) from a\n"
    "SOAP master-data service into a download document and files beside it,\n"
    "through a three-step wizard or unattended. The package holds the library\n"
    "with its C++ and C interfaces, their headers, CMake and pkg-config files,\n"
    "the command-line host ovk-host and the reference service ovk-refservice.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The library's shlibs file, and the trigger that has dpkg run ldconfig for it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
file(WRITE ${PROJECT_BINARY_DIR}/package-control/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package-control/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# Debian looks for a changelog of its own form beside the copyright file; it points at ours.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ovk_release_time "$ENV{SOURCE_DATE_EPOCH}")
else()
  string(TIMESTAMP ovk_release_time "%s" UTC)
endif()
execute_process(COMMAND date -u -R -d "@${ovk_release_time}" OUTPUT_VARIABLE ovk_release_date
                OUTPUT_STRIP_TRAILING_WHITESPACE)
file(WRITE ${PROJECT_BINARY_DIR}/package-control/changelog
  "ovk-client (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}; CHANGELOG.md in this folder says what changed.\n\n"
  " -- ${CPACK_PACKAGE_CONTACT}  ${ovk_release_date}\n")
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/package-control/changelog)
install(FILES ${PROJECT_BINARY_DIR}/package-control/changelog.gz DESTINATION ${OVK_DOC_DIR}
  COMPONENT runtime)

include(CPack)
