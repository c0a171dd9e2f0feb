# Embeds binary files into a generated C++ source at build time.
#
# Run as a script (cmake -P) with
#   OUTPUT    the source to write
#   HEADER    the header declaring FUNCTION, included first
#   FUNCTION  the (qualified) name of a function
#             `std::span<const std::span<const unsigned char>> FUNCTION()` returning the files
#   FILES     the files, in that order
# The source is rewritten only when its content changes.

set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS FILES)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
  get_filename_component(name "${file}" NAME)
  string(APPEND arrays "// ${name}\nconst unsigned char kFile${index}[] = {\n${bytes}};\n")
  string(APPEND entries "kFile${index}, ")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time. Do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace {\n${arrays}\n"
  "const std::span<const unsigned char> kFiles[] = {${entries}};\n"
  "}  // namespace\n\n"
  "std::span<const std::span<const unsigned char>> ${FUNCTION}() {\n  return kFiles;\n}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
