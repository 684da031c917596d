# cmake -DINPUT=<file or empty> -DOUTPUT=<cpp> -P EmbedFile.cmake
# Writes the port library's bytes as PortLibraryImage().
if(INPUT)
  file(READ "${INPUT}" hex HEX)
else()
  set(hex "")
endif()
string(LENGTH "${hex}" digits)
math(EXPR length "${digits} / 2")
if(length GREATER 0)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
else()
  set(bytes "0")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT}; do not edit.
#include \"app/PortLibraryImage.h\"

namespace vyk::app {

namespace {
const uint8_t bytes[] = {
${bytes}
};
constexpr uint32_t length = ${length}u;
} // namespace

std::span<const uint8_t> PortLibraryImage()
{
    return {bytes, length};
}

} // namespace vyk::app
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
