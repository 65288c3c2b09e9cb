# What a station's PC needs besides the programs: the systemd user units of the morning report,
# the back office's menu entry, the package's documentation; and the Debian package of it all,
# made by CPack (`cpack` in a Release tree configured with the prefix /usr, as scripts/package.sh
# does).

# The units in contrib/systemd/ start the program a user linked into ~/.local/bin; the installed
# ones start the installed program.
file(READ ${PROJECT_SOURCE_DIR}/contrib/systemd/torvi-report.service torvi_service)
set(torvi_user_program "%h/.local/bin/torvi-report")
string(FIND "${torvi_service}" "${torvi_user_program}" torvi_found)
if(torvi_found EQUAL -1)
    message(FATAL_ERROR "contrib/systemd/torvi-report.service no longer starts "
                        "${torvi_user_program}: the installed unit would not start the installed "
                        "program; update cmake/TorviPackage.cmake")
endif()
string(REPLACE "${torvi_user_program}" "${CMAKE_INSTALL_FULL_BINDIR}/torvi-report" torvi_service
               "${torvi_service}")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/systemd/torvi-report.service CONTENT "${torvi_service}")
install(FILES ${CMAKE_BINARY_DIR}/systemd/torvi-report.service
              ${PROJECT_SOURCE_DIR}/contrib/systemd/torvi-report.timer
        DESTINATION lib/systemd/user)
install(FILES ${PROJECT_SOURCE_DIR}/contrib/desktop/torvi-host.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(TORVI_PACKAGE_NAME torvistat9)
set(TORVI_PACKAGE_MAINTAINER "Torvi statistics maintainers <torvistat@example.com>"
    CACHE STRING "The Maintainer field of the Debian package")
set(torvi_doc ${CMAKE_INSTALL_DATADIR}/doc/${TORVI_PACKAGE_NAME})
# A native package's changelog, of the one version the project has, dated by the last commit so
# that the same sources give the same package (the time of the configure outside a clone).
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%cD
                OUTPUT_VARIABLE torvi_package_date OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE torvi_git_result ERROR_QUIET)
if(NOT torvi_git_result EQUAL 0 OR torvi_package_date STREQUAL "")
    string(TIMESTAMP torvi_package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/package/changelog CONTENT
"${TORVI_PACKAGE_NAME} (${PROJECT_VERSION}) stable; urgency=medium

  * Version ${PROJECT_VERSION} of the station statistics plug-in, the back-office host,
    torvi-report and torvi-stationdb.

 -- ${TORVI_PACKAGE_MAINTAINER}  ${torvi_package_date}
")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
    COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/package/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/package/changelog
    COMMENT "Package changelog")
add_custom_target(torvi_package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/package/changelog.gz
              ${PROJECT_SOURCE_DIR}/contrib/package/copyright
        DESTINATION ${torvi_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TORVI_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TORVI_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TORVI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sales statistics of a filling station's back office")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The statistics plug-in of the filling-station back office: fuel and shop sales\n"
    "as charts and printable reports, from the station's files or from the chain's\n"
    "PostgreSQL server. With the back-office host torvi-host that loads it,\n"
    "torvi-report for reports without a window and torvi-stationdb for demo\n"
    "station databases.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load at run time, which the linked libraries do not show: Qt's SQL drivers
# of the two servers, the platforms (offscreen for the scripted and scheduled runs, xcb for a
# desktop), Qt's Russian texts and the fonts that offscreen windows and printed reports draw with.
string(CONCAT CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, libqt6sql6-psql, qt6-qpa-plugins, qt6-translations-l10n, "
    "fonts-dejavu-core, fonts-dejavu-extra")
# The export to Word and Excel documents and a chain's central server.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libreoffice-writer, libreoffice-calc, postgresql")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
