# What `cmake --install` puts into a prefix, and the Debian package CPack makes from it.
#   bin/murrelo, bin/murrelo-phone
#   share/applications/zz.holvanis.murrelo.desktop   (its presence marks an installed prefix)
#   share/icons/hicolor/scalable/apps/zz.holvanis.murrelo.svg
#   share/murrelo/l10n/{app,kit}/*.po                 (installed by KestruneRemoteKit/L10n)
#   share/man/man1/murrelo.1.gz, murrelo-phone.1.gz
#   share/doc/murrelo/copyright, changelog.gz         (what a Debian package must carry)
# Included at the end of the top-level CMakeLists, once every program target exists.
include(GNUInstallDirs)

set(_murrelo_resources ${PROJECT_SOURCE_DIR}/resources)
set(_murrelo_generated ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS murrelo-phone RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The tray application's target comes with the desktop layers.
if(TARGET murrelo)
  install(TARGETS murrelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(MURRELO_DESKTOP)
  install(FILES ${_murrelo_resources}/applications/zz.holvanis.murrelo.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_murrelo_resources}/icons/zz.holvanis.murrelo.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Manual pages and the changelog compressed as Debian wants them: gzip -9, with no name or time
# stamp inside, so that two builds of the same sources give the same files.
find_program(MURRELO_GZIP gzip REQUIRED)
set(_murrelo_compressed "")
function(_murrelo_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_murrelo_generated}
    COMMAND ${MURRELO_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(_murrelo_compressed ${_murrelo_compressed} ${output} PARENT_SCOPE)
endfunction()
set(_murrelo_man_pages murrelo-phone.1)
if(MURRELO_DESKTOP)
  list(APPEND _murrelo_man_pages murrelo.1)
endif()
foreach(_page IN LISTS _murrelo_man_pages)
  _murrelo_gzip(${_murrelo_resources}/man/${_page} ${_murrelo_generated}/${_page}.gz)
  install(FILES ${_murrelo_generated}/${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
_murrelo_gzip(${_murrelo_resources}/packaging/changelog ${_murrelo_generated}/changelog.gz)
add_custom_target(murrelo_packaging_files ALL DEPENDS ${_murrelo_compressed})
install(FILES ${_murrelo_resources}/packaging/copyright ${_murrelo_generated}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/murrelo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME murrelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Murrelo developers <developers@murrelo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "push-to-talk dictation and typing from your phone")
# Lines of the long description stay under 80 characters, as dpkg and lintian want.
set(CPACK_PACKAGE_DESCRIPTION
  "Murrelo is a tray utility for the X11 desktop. Hold a key, speak, and your
words are typed wherever your cursor is, optionally corrected by a
chat-completions model. Paired phones type text and passwords into this
computer and send it pictures over the local network, and the clipboard can
be sent to them. The package also holds murrelo-phone, a command-line phone.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://murrelo.example/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Shared libraries from dpkg-shlibdeps; below, what the programs need but do not link: the TLS
# identity is made with the openssl tool and the desktop build needs Qt's X11 platform plugin,
# its SVG icon loader and the offline English speech model.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(MURRELO_DESKTOP)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "openssl, qt6-qpa-plugins, libqt6svg6, pocketsphinx-en-us")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | keepassxc, avahi-daemon, pulseaudio | pipewire-pulse")
endif()
include(CPack)
