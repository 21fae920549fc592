# SPDX-License-Identifier: MIT
# Turns the service description and the banner picture into a C++ source, so the tool runs
# from any folder without looking for its data files. Run with -DOUTPUT=, -DWSDL=, -DBANNER=.
function(embed variable file out)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){16})" "\\1\n    " bytes "${bytes}")
  file(SIZE "${file}" size)
  set(${out} "${${out}}const char ${variable}[] = {\n    ${bytes}'\\0'};\nconstexpr std::size_t ${variable}Size = ${size};\n\n" PARENT_SCOPE)
endfunction()

set(text "// Generated from data/VelmoraSvr.wsdl and examples/catalog/banner.jpg; do not edit.\n")
string(APPEND text "#include \"embedded_resources.hpp\"\n\nnamespace ovk::refservice {\nnamespace {\n\n")
embed(kServiceDescription "${WSDL}" text)
embed(kBannerPicture "${BANNER}" text)
string(APPEND text "}  // namespace\n\n")
string(APPEND text "std::string_view embeddedServiceDescription() { return {kServiceDescription, kServiceDescriptionSize}; }\n")
string(APPEND text "std::string_view embeddedBannerPicture() { return {kBannerPicture, kBannerPictureSize}; }\n\n")
string(APPEND text "}  // namespace ovk::refservice\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
