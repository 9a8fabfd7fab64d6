# Writes a C++ source holding the stub's bytes (or none) as embeddedStub.
if(STUB AND EXISTS "${STUB}")
  file(READ "${STUB}" bytes HEX)
  string(LENGTH "${bytes}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
else()
  set(size 0)
  set(bytes "0")
endif()
file(WRITE "${OUT}.tmp"
  "// Generated from the built stub; do not edit.\n"
  "extern const unsigned char embeddedStub[];\n"
  "extern const unsigned embeddedStubSize;\n"
  "const unsigned char embeddedStub[] = {\n${bytes}\n};\n"
  "const unsigned embeddedStubSize = ${size};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
