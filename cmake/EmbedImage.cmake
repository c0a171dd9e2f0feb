# Embeds the firmware image into a generated C++ source at build time.
#
# Included from the top-level list: checks the image and declares the generated source.
# Run as a script (cmake -P) with IMAGE and OUTPUT set: writes that source.

function(quarnel_check_image path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "Firmware image '${path}' does not exist.")
  endif()
  file(SIZE "${path}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "Firmware image '${path}' is empty.")
  endif()
  if(size GREATER 16384)
    message(FATAL_ERROR "Firmware image '${path}' has ${size} bytes; the EEPROM read-back holds at most 16384.")
  endif()
  math(EXPR rest "${size} % 16")
  if(NOT rest EQUAL 0)
    message(FATAL_ERROR "Firmware image '${path}' has ${size} bytes, not a multiple of 16: "
                        "a device on the 16-byte framing could never finish reading it back.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  include("${CMAKE_CURRENT_LIST_DIR}/HexBytes.cmake")
  quarnel_check_image("${IMAGE}")
  quarnel_hex_bytes("${IMAGE}" bytes size)
  string(CONCAT source
    "// Generated from the firmware image at build time. Do not edit.\n"
    "#include \"engine/FirmwareImage.h\"\n\n"
    "namespace quarnel {\n"
    "const std::uint8_t kFirmwareImage[] = {\n${bytes}};\n"
    "const std::uint32_t kFirmwareImageLength = ${size};\n"
    "}  // namespace quarnel\n")
  quarnel_write_if_changed("${OUTPUT}" "${source}")
  return()
endif()

quarnel_check_image("${QUARNEL_FIRMWARE_IMAGE}")
set(QUARNEL_IMAGE_SOURCE "${CMAKE_BINARY_DIR}/generated/FirmwareImageData.cpp")
add_custom_command(
  OUTPUT "${QUARNEL_IMAGE_SOURCE}"
  COMMAND "${CMAKE_COMMAND}" -DIMAGE=${QUARNEL_FIRMWARE_IMAGE} -DOUTPUT=${QUARNEL_IMAGE_SOURCE}
          -P "${CMAKE_CURRENT_LIST_DIR}/EmbedImage.cmake"
  DEPENDS "${QUARNEL_FIRMWARE_IMAGE}" "${CMAKE_CURRENT_LIST_DIR}/EmbedImage.cmake"
          "${CMAKE_CURRENT_LIST_DIR}/HexBytes.cmake"
  COMMENT "Embedding firmware image"
  VERBATIM)
