# Runs the image embedding on good and bad images and checks which are refused.
# Invoked by ctest as: cmake -DEMBED=<EmbedImage.cmake> -DWORK=<dir> -P EmbedImage_test.cmake
file(MAKE_DIRECTORY "${WORK}")

function(expect_embed name size expect_ok)
  set(image "${WORK}/${name}.bin")
  if(size EQUAL 0)
    file(WRITE "${image}" "")
  else()
    string(REPEAT "A" ${size} content)
    file(WRITE "${image}" "${content}")
  endif()
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -DIMAGE=${image} -DOUTPUT=${WORK}/${name}.cpp -P "${EMBED}"
    RESULT_VARIABLE result ERROR_VARIABLE error)
  if(expect_ok AND NOT result EQUAL 0)
    message(FATAL_ERROR "${name}: a good image was refused: ${error}")
  endif()
  if(NOT expect_ok AND result EQUAL 0)
    message(FATAL_ERROR "${name}: a bad image was accepted")
  endif()
  if(NOT expect_ok AND NOT error MATCHES "Firmware image")
    message(FATAL_ERROR "${name}: the refusal does not say what is wrong: ${error}")
  endif()
endfunction()

expect_embed(empty 0 FALSE)
expect_embed(too_long 16400 FALSE)
expect_embed(odd_length 12290 FALSE)
expect_embed(largest 16384 TRUE)
expect_embed(smallest 16 TRUE)

file(READ "${WORK}/smallest.cpp" generated)
if(NOT generated MATCHES "kFirmwareImageLength = 16;" OR NOT generated MATCHES "0x41,0x41")
  message(FATAL_ERROR "the generated source does not hold the image: ${generated}")
endif()
