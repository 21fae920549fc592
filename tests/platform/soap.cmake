# SPDX-License-Identifier: MIT
ovk_add_test_program(test_platform_soap
  soap_service_description_test.cpp
  soap_envelope_test.cpp
  soap_reply_parser_test.cpp
  soap_client_test.cpp
  soap_client_failure_test.cpp
  soap_proxy_test.cpp
  soap_client_wait_test.cpp
  soap_prefetch_test.cpp
  soap_hostile_reply_test.cpp
)
target_link_libraries(test_platform_soap PRIVATE PkgConfig::HTTPLIB ZLIB::ZLIB)
if(TARGET ovk-refservice)
  add_dependencies(test_platform_soap ovk-refservice)
endif()
