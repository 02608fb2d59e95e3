# What `cmake --install` puts in place, and the Debian package built from it (cpack -G DEB).
include(GNUInstallDirs)

set(VELMORA_APP_ID net.velmora.Velmora)

install(TARGETS velmora velmora-update velmora-tool velmora-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/app/${VELMORA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES res/app/${VELMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES res/app/velmora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VELMORA_APP_ID}.svg)
foreach(_size IN LISTS VELMORA_ICON_SIZES)
    install(FILES "${VELMORA_ICON_DIR}/${_size}x${_size}.png"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME ${VELMORA_APP_ID}.png)
endforeach()
# The website's help pages, which the reference server serves from here once installed.
install(DIRECTORY res/helponline/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/helponline)
# The Song face rule, where packaged font rules live; fontconfig reads it once it is linked
# into /etc/fonts/conf.d (the package does that, scripts/bootstrap.sh does it for a checkout).
install(FILES res/fonts/60-velmora-songti.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fontconfig/conf.avail)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora <support@velmora.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Live quotes and value charts for spot precious metals and FX")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Libraries from the binaries themselves, the rest by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-translations-l10n, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/res/app/postinst")
include(CPack)
