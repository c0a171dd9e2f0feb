# Helpers of the scripts that turn binary files into C++ sources.

# Reads `file` into `out` as C array initialisers, 16 bytes a line, and its size into
# `out_size`.
function(quarnel_hex_bytes file out out_size)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # CMake's regular expressions have no {n}: spell the sixteen out.
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  set(${out} "${bytes}" PARENT_SCOPE)
  set(${out_size} "${size}" PARENT_SCOPE)
endfunction()

# Writes `content` to `path`, leaving the file (and its time stamp) alone when it is the same.
function(quarnel_write_if_changed path content)
  file(WRITE "${path}.tmp" "${content}")
  file(COPY_FILE "${path}.tmp" "${path}" ONLY_IF_DIFFERENT)
  file(REMOVE "${path}.tmp")
endfunction()
