# What `cmake --install` puts where, and the packages CPack makes of it (scripts/package.sh):
# on Linux a Debian package, on Windows (the MinGW cross build) an NSIS installer and a zip.
#
# Installed are the programs and, for the window program on Linux, its desktop entry and icon;
# nothing else. The programs need nothing beside them: the DFU tool and the firmware package are
# inside each program, the settings are per user and the temporary files go to the user's
# temporary folder.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(QOR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

set(programs qor-ble-update-cli)
if(TARGET qor-ble-update)
    list(APPEND programs qor-ble-update)
endif()
if(WIN32)
    # A Windows program folder holds its programs at the top, as does the portable zip.
    install(TARGETS ${programs} RUNTIME DESTINATION .)
else()
    install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(TARGET qor-ble-update)
        install(FILES ${QOR_PACKAGING_DIR}/qor-ble-update.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        # The hicolor theme's fallback size as PNG (rendered from the SVG with
        # `rsvg-convert -w 48 -h 48`), and the SVG for every other size.
        install(FILES ${QOR_PACKAGING_DIR}/qor-ble-update-48.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
                RENAME qor-ble-update.png)
        install(FILES ${QOR_PACKAGING_DIR}/qor-ble-update.svg
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    endif()
endif()

set(CPACK_PACKAGE_NAME qor-ble-update)
set(CPACK_PACKAGE_VENDOR "${QOR_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Firmware update of the Bluetooth LE radio module in QOR BLE-Z40 data loggers")
set(QOR_PACKAGE_CONTACT "${QOR_COMPANY_NAME}" CACHE STRING
    "Maintainer of the packages (Debian's Maintainer field: name <address>)")
set(CPACK_PACKAGE_CONTACT "${QOR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${QOR_PRODUCT_NAME}")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${QOR_PRODUCT_NAME}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
    set(CPACK_GENERATOR NSIS ZIP)
    set(CPACK_SYSTEM_NAME win64)
    set(CPACK_NSIS_COMPRESSOR lzma)
    # Our installer template (packaging/nsis/NSIS.template.in) instead of CPack's.
    list(PREPEND CMAKE_MODULE_PATH ${QOR_PACKAGING_DIR}/nsis)
    # The installer is named as such; the zip keeps the plain package name.
    set(CPACK_PROJECT_CONFIG_FILE ${QOR_PACKAGING_DIR}/CPackOptions.cmake)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    if(TARGET qor-ble-update)
        # Qt draws through a platform plugin that no library of the program links to.
        set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
    endif()
    # Follows the summary line, which CPack puts first.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Updates the firmware of the Bluetooth LE radio module inside QOR BLE-Z40
data loggers over the logger's USB serial port: the window program
qor-ble-update and the headless qor-ble-update-cli.
.
Serial ports (/dev/ttyUSB*) belong to the group dialout: add the user to
it (adduser USER dialout) and log in again.")
endif()

include(CPack)
