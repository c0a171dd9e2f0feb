# cpack: a Debian package on Linux, a zip on Windows. Included after cmake/Install.cmake,
# whose rules say what goes in. Build from a release configuration:
#   cmake --preset release && cmake --build --preset release && cpack --preset release
#   cmake --preset win32-release && cmake --build --preset win32-release &&
#     cpack --preset win32-release

set(CPACK_PACKAGE_NAME quarnel-fwupdate)
set(CPACK_PACKAGE_VENDOR "Quarnel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware updater for Quarnel USB digital audio interfaces")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")

# The bash completion here, the zip in the 32-bit Windows tests.
if(QUARNEL_BUILD_TESTS)
  add_subdirectory(tests/packaging)
endif()

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(arch win32)
  else()
    set(arch win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "quarnel-fwupdate-${PROJECT_VERSION}-${arch}")
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUARNEL_PACKAGE_MAINTAINER}")
# Read here: cpack would escape the file's apostrophes for XML.
set(description "${quarnel_packaging}/debian/description.txt")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${description}")
file(READ "${description}" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The same script runs after install and after removal: udev reloads its rules.
foreach(script postinst postrm)
  configure_file("${quarnel_packaging}/debian/maintscript" "${quarnel_generated}/${script}"
                 COPYONLY)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${quarnel_generated}/postinst;${quarnel_generated}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
