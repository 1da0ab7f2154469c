file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR len "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n"
  "#include \"host/resources/embedded_resource.h\"\n"
  "namespace {\n"
  "const unsigned char kData[] = {${bytes}0x00};\n"
  "const Vorn::Resources::EmbeddedResourceRegistration kRegistration{\"${NAME}\", kData, ${len}};\n"
  "}\n")
