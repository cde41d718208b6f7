# Everything `cmake --install` places besides the program and its desktop entry,
# and the Debian package built from it with CPack (scripts/package).

# The icon in the fixed hicolor sizes, rendered from resources/icons/app.glanto.Glanto.svg.
foreach(size 16 22 24 32 48 64 128 256 512)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/hicolor/${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME app.glanto.Glanto.png)
endforeach()

# AppStream metadata for software centres (checked with `appstreamcli validate`).
install(FILES ${CMAKE_SOURCE_DIR}/resources/app.glanto.Glanto.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glanto)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Glanto developers")
set(CPACK_PACKAGE_CONTACT "The Glanto developers <packages@glanto.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast single-window photo viewer")
set(CPACK_PACKAGE_DESCRIPTION
  "Glanto opens a folder, or any photo inside one, and steps through its images\nwith the keyboard, the mouse wheel or a filmstrip. It rates, rotates, renames,\nexports and converts photos, runs slideshows, and has a cleanup mode that finds\nsimilar bursts, duplicates, closed eyes and blurry shots.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps; these are what the program
# loads without linking: the face landmark model, the eye cascades (without
# them the closed-eye judgement finds about half the shut eyes, and an install
# without recommended packages would lose them unseen), the MIME database, and
# the tool whose dpkg trigger registers the desktop entry's MIME types.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libdlib-data, opencv-data, shared-mime-info, desktop-file-utils")
# Without them it still runs: more image formats, Qt's own words in Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-image-formats-plugins, libqt6svg6, fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
