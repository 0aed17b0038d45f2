# Writes the bytes of a compiled catalog (MO) as a C++ array (OUT) for a program
# that carries its catalog inside: cmake -DMO=... -DOUT=... -P embed-catalog.cmake
file(READ ${MO} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(([^,]*,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Made from ${MO} at build time.\n#include <cstddef>\n"
     "extern const char kBulgarianCatalog[] = {\n${bytes}\n};\n"
     "extern const std::size_t kBulgarianCatalogSize = sizeof kBulgarianCatalog;\n")
