# Each room of the program is a static library that links only the rooms below it
# (ARCHITECTURE.md). A static library leaves its undefined symbols to the final link, where a
# call into a room above could be resolved by accident; so every room is also linked on its
# own, whole, into a program of nothing: a call that goes the wrong way fails that link.
function(quarnel_link_check room)
  set(check quarnel_link_check_${room})
  add_executable(${check} "${PROJECT_SOURCE_DIR}/cmake/LinkCheck.cpp")
  target_link_libraries(${check} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,quarnel_${room}>")
endfunction()
