# What `cmake --install` puts in place, and the Debian packages built from it (cpack -G DEB):
# `velmora`, the program with everything a trader's desktop needs, and `velmora-server`, the
# reference services. The updater is installed beside the program by `cmake --install` only: a
# packaged program never updates itself.
include(GNUInstallDirs)

set(VELMORA_APP_ID net.velmora.Velmora)
set(VELMORA_HOMEPAGE https://velmora.net/)
set(_package_dir ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${_package_dir})

install(TARGETS velmora velmora-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(TARGETS velmora-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(TARGETS velmora-update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT updater)
install(FILES res/app/${VELMORA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES res/app/${VELMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)
install(FILES res/app/velmora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VELMORA_APP_ID}.svg COMPONENT program)
foreach(_size IN LISTS VELMORA_ICON_SIZES)
    install(FILES "${VELMORA_ICON_DIR}/${_size}x${_size}.png"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME ${VELMORA_APP_ID}.png COMPONENT program)
endforeach()
# The website's help pages: the program shows them when the website cannot be reached, the
# reference server serves them.
install(DIRECTORY res/helponline/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/helponline
        COMPONENT program)
# The Song face rule, where packaged font rules live. The package links it into
# /etc/fonts/conf.d, as font packages do, so that removing the package removes the link;
# scripts/bootstrap.sh installs it there for a checkout.
install(FILES res/fonts/60-velmora-songti.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fontconfig/conf.avail COMPONENT program)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
file(CREATE_LINK ${CPACK_PACKAGING_INSTALL_PREFIX}/share/fontconfig/conf.avail/60-velmora-songti.conf
     ${_package_dir}/60-velmora-songti.conf SYMBOLIC)
# Only in the package (a component's own install): a user's install cannot write /etc.
install(FILES ${_package_dir}/60-velmora-songti.conf DESTINATION /etc/fonts/conf.d
        COMPONENT program EXCLUDE_FROM_ALL)

# The packages' copyright and changelog, for each of them.
add_custom_command(OUTPUT ${_package_dir}/changelog.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/res/package/changelog > ${_package_dir}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/res/package/changelog
    COMMENT "Compressing the package changelog")
add_custom_target(velmora-package-changelog ALL DEPENDS ${_package_dir}/changelog.gz)
foreach(_component IN ITEMS program server)
    set(_doc ${CMAKE_INSTALL_DATADIR}/doc/velmora)
    if(_component STREQUAL server)
        set(_doc ${CMAKE_INSTALL_DATADIR}/doc/velmora-server)
    endif()
    install(FILES res/package/copyright ${_package_dir}/changelog.gz DESTINATION ${_doc}
            COMPONENT ${_component})
endforeach()
# lintian's overrides, each with its reason; for the package only.
install(FILES res/package/velmora.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora COMPONENT program
        EXCLUDE_FROM_ALL)

# Manual pages from the commands' own --help and --version, when help2man is there
# (scripts/bootstrap.sh installs it); without it the build goes on without them.
find_program(VELMORA_HELP2MAN help2man)
if(VELMORA_HELP2MAN)
    set(_man_velmora "live quotes and value charts for spot precious metals and FX")
    set(_man_velmora-tool "the program's market data and value charts without windows")
    set(_man_velmora-server "reference data server, website and SMS gateway for the program")
    set(_man_velmora-update "replaces the program with a downloaded version and restarts it")
    set(_man_pages "")
    foreach(_command IN ITEMS velmora velmora-tool velmora-server velmora-update)
        set(_page ${_package_dir}/man/${_command}.1)
        add_custom_command(OUTPUT ${_page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${_package_dir}/man
            # A sanitizer build's leak check has nothing to say about a help text.
            COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 LC_ALL=C.UTF-8
                    ${VELMORA_HELP2MAN} --no-info
                    "--name=${_man_${_command}}" --output=${_page} $<TARGET_FILE:${_command}>
            COMMAND gzip -9nf ${_page}
            DEPENDS ${_command}
            COMMENT "Writing the manual page of ${_command}"
            VERBATIM)
        list(APPEND _man_pages ${_page}.gz)
    endforeach()
    add_custom_target(velmora-manpages ALL DEPENDS ${_man_pages})
    install(FILES ${_package_dir}/man/velmora.1.gz ${_package_dir}/man/velmora-tool.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
    install(FILES ${_package_dir}/man/velmora-server.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
    install(FILES ${_package_dir}/man/velmora-update.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT updater)
else()
    message(STATUS "help2man not found: no manual pages")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora <support@velmora.net>")
set(CPACK_PACKAGE_HOMEPAGE_URL ${VELMORA_HOMEPAGE})
# Staged under DESTDIR, so that the font link's absolute /etc path lands in the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Stripped binaries, their debugging symbols apart in -dbgsym packages (CPack strips them as it
# moves the symbols out); a sanitizer build's packages are for its tests only and keep them.
if(NOT VELMORA_SANITIZE AND NOT VELMORA_TSAN)
    set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
endif()
# Libraries from the binaries themselves, the rest by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME velmora)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION misc)
# The Song face of the charts, the plugin that draws the SVG window icon (loaded, not linked),
# the translations of Qt's own dialogs, and the certificates of HTTPS servers.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS
    "fonts-noto-cjk | fonts-arphic-uming, libqt6svg6, qt6-translations-l10n, ca-certificates")
# A keyring for the saved password; the Wayland platform plugin.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS "gnome-keyring | keepassxc, qt6-wayland")
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "live quotes and value charts for spot precious metals and FX
Velmora is a desktop analysis program for retail traders of spot precious
metals (silver, gold, palladium, platinum) and direct FX pairs. It shows a
live quote board of 13 instruments, keeps their half-hour, day, week and
month bars from the data server or from MetaTrader 4 history files, lets the
trader browse and correct them, and draws the value chart: a market profile
of the newest bars with a long and a short moving average.
.
The package also holds velmora-tool, which runs the same logic on the
command line, and the help pages, which the program shows when its website
cannot be reached.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME velmora-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# It serves the help pages that the program's package installs.
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS velmora)
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "reference services for the Velmora program
The reference data server, the maker's website with its account server, and
the SMS gateway that the Velmora program talks to, for demonstrations, tests
and private deployments on a trusted network. The data server answers from a
market simulator or from MetaTrader 4 history files; the website keeps its
accounts in SQLite with argon2id password hashes and publishes signed
updates; the gateway delivers nothing and keeps its messages in a file.
.
A trader's desktop needs only the velmora package.")
include(CPack)
