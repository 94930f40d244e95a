# `cmake --install` lays out:
#   <prefix>/lib/corvidan/          a self-contained AppDir: the executables beside
#                                   the delivered folders and files, and manual/
#   <prefix>/bin/corvidan           starts the program from the user's own AppDir
#                                   (~/Corvidan), laid out from the one above
#   <prefix>/share/corvidan/        the layout script the starter uses
#   <prefix>/share/applications/    corvidan.desktop
#   <prefix>/share/icons/hicolor/   the icon, SVG and PNG sizes
# `cpack -G DEB` packages the same tree under /usr.

set(CORVIDAN_INSTALL_APPDIR "lib/corvidan" CACHE STRING
  "Installed AppDir, relative to the install prefix")
set(CORVIDAN_INSTALL_DATADIR "share/corvidan")
set(CORVIDAN_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/assets/desktop)

foreach(exe corvidan corvidan-receive)
  if(TARGET ${exe})
    install(TARGETS ${exe} RUNTIME DESTINATION ${CORVIDAN_INSTALL_APPDIR})
  endif()
endforeach()

# The manual the HomePage label opens, built from README.md.
install(DIRECTORY ${CORVIDAN_APPDIR}/manual DESTINATION ${CORVIDAN_INSTALL_APPDIR})

# Every delivered folder exists, empty or not: the program creates none of them.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/appdir/ DESTINATION ${CORVIDAN_INSTALL_APPDIR})
foreach(folder "★MAilData" "添付フォルダ" "背景画像" "新着画像" "顔文字データ" "■TextQuickSave")
  install(DIRECTORY DESTINATION "${CORVIDAN_INSTALL_APPDIR}/${folder}")
endforeach()

install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/layout-appdir DESTINATION ${CORVIDAN_INSTALL_DATADIR})
file(RELATIVE_PATH CORVIDAN_TEMPLATE_FROM_BIN /bin /${CORVIDAN_INSTALL_APPDIR})
file(RELATIVE_PATH CORVIDAN_LAYOUT_FROM_BIN /bin /${CORVIDAN_INSTALL_DATADIR}/layout-appdir)
configure_file(${CORVIDAN_DESKTOP_DIR}/corvidan-launch ${CMAKE_BINARY_DIR}/install/corvidan @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/corvidan DESTINATION bin)

install(FILES ${CORVIDAN_DESKTOP_DIR}/corvidan.desktop DESTINATION share/applications)
install(FILES ${CORVIDAN_DESKTOP_DIR}/corvidan.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${CORVIDAN_DESKTOP_DIR}/hicolor/${size}x${size}/apps/corvidan.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/corvidan)

# Debian package.
set(CPACK_PACKAGE_NAME corvidan)
set(CPACK_PACKAGE_VENDOR "Corvidan")
set(CPACK_PACKAGE_CONTACT "Corvidan maintainers <maintainers@corvidan.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese desktop mail client (POP3, SMTP)")
set(CPACK_PACKAGE_DESCRIPTION
  "Corvidan receives mail from one POP3 mailbox and sends it through one SMTP server,
with a Japanese user interface. Received and sent mail are kept in fixed-record
Shift_JIS history files in the user's own folder, ~/Corvidan.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://corvidan.invalid/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
# Depends: runtime libraries only. The ones the executables link come from
# dpkg-shlibdeps; TLS loads libssl3 at run time.
# Recommends: what a Japanese desktop wants around it: the CA store for TLS,
# Japanese fonts and Qt's translations, and an input method that works with
# Qt 6 (fcitx5 with Mozc and its Qt 6 frontend).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "ca-certificates, fonts-ipafont-gothic, fonts-ipafont-mincho, qt6-translations-l10n, fcitx5, fcitx5-mozc, fcitx5-frontend-qt6")
include(CPack)
