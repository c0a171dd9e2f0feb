# Compiler warnings for every target of this project.
add_library(quarnel_warnings INTERFACE)
target_compile_options(quarnel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Woverloaded-virtual -Wnull-dereference -Wformat=2)
if(QUARNEL_WERROR)
  target_compile_options(quarnel_warnings INTERFACE -Werror)
endif()
