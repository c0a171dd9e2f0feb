# What `cmake --install` puts where, and the files generated for it. Included at the end of
# the top-level list, once every target exists.
#
# Linux: the programs, the udev rule, the desktop entry, the icons, the AppStream metadata,
# the manual pages, the bash completion, the copyright and changelog files.
# Windows: the programs, a README.txt for Windows users and the licence, side by side.

include(GNUInstallDirs)

# The date of the release named by project(); the manual pages, the AppStream metadata and the
# package's changelog carry it.
set(QUARNEL_RELEASE_DATE "2026-12-08")
set(QUARNEL_RELEASE_DATE_RFC2822 "Tue, 08 Dec 2026 00:00:00 +0000")

# Directories made by the install are readable by all, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(quarnel_packaging "${PROJECT_SOURCE_DIR}/packaging")
set(quarnel_generated "${CMAKE_BINARY_DIR}/generated/install")

if(WIN32)
  # The command-line program carries a version block like the windowed one, and a manifest:
  # Windows takes a program with "update" in its name for an installer unless told otherwise.
  enable_language(RC)
  configure_file("${PROJECT_SOURCE_DIR}/app/gui/windows/quarnel_version.h.in"
                 "${quarnel_generated}/cli/quarnel_version.h" @ONLY)
  set(cli_rc "${PROJECT_SOURCE_DIR}/resources/cli.rc")
  add_library(quarnel_cli_resources OBJECT "${cli_rc}")
  target_include_directories(quarnel_cli_resources PRIVATE
    "${PROJECT_SOURCE_DIR}/resources" "${quarnel_generated}/cli")
  set_source_files_properties("${cli_rc}" PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/resources/cli.manifest;${PROJECT_SOURCE_DIR}/resources/app.ico;${quarnel_generated}/cli/quarnel_version.h")
  target_link_libraries(quarnel-fwupdate-cli PRIVATE quarnel_cli_resources)

  # One folder: the programs, README.txt and LICENSE.txt, with Windows line ends.
  install(TARGETS quarnel-fwupdate-cli RUNTIME DESTINATION .)
  if(TARGET quarnel-fwupdate)
    install(TARGETS quarnel-fwupdate RUNTIME DESTINATION .)
  endif()
  configure_file("${quarnel_packaging}/windows/README.txt.in" "${quarnel_generated}/README.txt"
                 @ONLY NEWLINE_STYLE WIN32)
  configure_file("${PROJECT_SOURCE_DIR}/LICENSE" "${quarnel_generated}/LICENSE.txt"
                 @ONLY NEWLINE_STYLE WIN32)
  install(FILES "${quarnel_generated}/README.txt" "${quarnel_generated}/LICENSE.txt"
          DESTINATION .)
  return()
endif()

# udev reads rules from /lib/udev/rules.d (the distribution's) and /etc/udev/rules.d (the
# administrator's). The rule goes to /lib/udev/rules.d when the prefix is /usr (the package)
# and under the prefix otherwise, from where it is copied to /etc/udev/rules.d (see the
# README); the prefix is the one of the install (cpack installs into /usr).
set(QUARNEL_UDEV_RULES_DIR "" CACHE PATH
    "Folder (absolute) for the udev rule; empty: chosen by the install prefix, as above")
set(udev_rule "${quarnel_packaging}/linux/70-quarnel-audio.rules")
install(CODE "
  set(udev_dir \"${QUARNEL_UDEV_RULES_DIR}\")
  if(NOT udev_dir AND CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(udev_dir /lib/udev/rules.d)
  elseif(NOT udev_dir)
    set(udev_dir \"\${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d\")
  endif()
  file(INSTALL DESTINATION \"\${udev_dir}\" TYPE FILE FILES \"${udev_rule}\")
")

set(doc_dir "${CMAKE_INSTALL_DATADIR}/doc/quarnel-fwupdate")
set(QUARNEL_PACKAGE_MAINTAINER "Quarnel Firmware Update developers <fwupdate@quarnel.example>"
    CACHE STRING "The package's maintainer, as Name <address>")

# The programs. A stripping install (cpack) also drops the sections Debian's own tools
# drop: the compilers' .comment and .note.
function(quarnel_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>")
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              --remove-section=.note \"${installed}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()
  ")
endfunction()
quarnel_install_program(quarnel-fwupdate-cli)
install(FILES "${quarnel_packaging}/linux/quarnel-fwupdate-cli.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
        RENAME quarnel-fwupdate-cli)

# Manual pages and the changelog, compressed as Debian wants them (gzip -9, no time stamp).
find_program(QUARNEL_GZIP gzip REQUIRED)
set(manuals quarnel-fwupdate-cli)
if(TARGET quarnel-fwupdate)
  list(APPEND manuals quarnel-fwupdate)
endif()
set(compressed "")
foreach(page IN LISTS manuals)
  configure_file("${quarnel_packaging}/linux/${page}.1.in" "${quarnel_generated}/${page}.1"
                 @ONLY)
  list(APPEND compressed "${quarnel_generated}/${page}.1")
  install(FILES "${quarnel_generated}/${page}.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endforeach()
configure_file("${quarnel_packaging}/debian/changelog.in" "${quarnel_generated}/changelog"
               @ONLY)
list(APPEND compressed "${quarnel_generated}/changelog")
set(compressed_outputs "")
foreach(file IN LISTS compressed)
  add_custom_command(OUTPUT "${file}.gz"
                     COMMAND "${QUARNEL_GZIP}" -9nkf "${file}"
                     DEPENDS "${file}"
                     VERBATIM)
  list(APPEND compressed_outputs "${file}.gz")
endforeach()
add_custom_target(quarnel_compressed_docs ALL DEPENDS ${compressed_outputs})

# The copyright file in the machine-readable format, its licence paragraph from LICENSE.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
string(REGEX REPLACE "^.*\n(Permission)" "\\1" licence "${licence}")
string(STRIP "${licence}" licence)
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence "${licence}")
set(QUARNEL_LICENSE_PARAGRAPH " ${licence}")
configure_file("${quarnel_packaging}/debian/copyright.in" "${quarnel_generated}/copyright" @ONLY)
install(FILES "${quarnel_generated}/copyright" "${quarnel_generated}/changelog.gz"
        DESTINATION "${doc_dir}")

# The windowed program and what a desktop shows of it.
if(TARGET quarnel-fwupdate)
  quarnel_install_program(quarnel-fwupdate)
  install(FILES "${quarnel_packaging}/linux/com.quarnel.fwupdate.desktop"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  configure_file("${quarnel_packaging}/linux/com.quarnel.fwupdate.metainfo.xml.in"
                 "${quarnel_generated}/com.quarnel.fwupdate.metainfo.xml" @ONLY)
  install(FILES "${quarnel_generated}/com.quarnel.fwupdate.metainfo.xml"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  foreach(size 16 32 48 256)
    install(FILES "${PROJECT_SOURCE_DIR}/resources/icon-${size}.png"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
            RENAME com.quarnel.fwupdate.png)
  endforeach()
  install(FILES "${PROJECT_SOURCE_DIR}/resources/icon.svg"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
          RENAME com.quarnel.fwupdate.svg)
endif()
