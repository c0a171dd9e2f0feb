# Embeds binary files into a generated C++ source at build time.
#
# Run as a script (cmake -P) with
#   OUTPUT    the source to write
#   HEADER    the header declaring FUNCTION, included first
#   FUNCTION  the (qualified) name of a function
#             `std::span<const std::span<const unsigned char>> FUNCTION()` returning the files
#   FILES     the files, in that order
# The source is rewritten only when its content changes.

include("${CMAKE_CURRENT_LIST_DIR}/HexBytes.cmake")

set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS FILES)
  quarnel_hex_bytes("${file}" bytes size)
  get_filename_component(name "${file}" NAME)
  string(APPEND arrays "// ${name}\nconst unsigned char kFile${index}[] = {\n${bytes}};\n")
  string(APPEND entries "kFile${index}, ")
  math(EXPR index "${index} + 1")
endforeach()

string(CONCAT source
  "// Generated at build time. Do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace {\n${arrays}\n"
  "const std::span<const unsigned char> kFiles[] = {${entries}};\n"
  "}  // namespace\n\n"
  "std::span<const std::span<const unsigned char>> ${FUNCTION}() {\n  return kFiles;\n}\n")
quarnel_write_if_changed("${OUTPUT}" "${source}")
