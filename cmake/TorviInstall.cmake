# Where an installed system puts its files: Debian's layout under the prefix (the multiarch
# library folder when the prefix is /usr), so that the package and a plain `cmake --install`
# agree.
include(GNUInstallDirs)

# The plug-in is loaded by path, never linked: it lives in a folder of its own.
set(TORVI_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/torvistat)
set(TORVI_INSTALL_FULL_PLUGINDIR ${CMAKE_INSTALL_FULL_LIBDIR}/torvistat)
# Whatever the umask of the machine that builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# torvi_install_man_page(<page>.1): the manual page of a program, kept beside its sources with
# @PROJECT_VERSION@ for the version, compressed as Debian keeps manual pages (no name or time stamp
# in the gzip header, so that the same page gives the same package).
function(torvi_install_man_page page)
    set(page_file ${CMAKE_CURRENT_BINARY_DIR}/man/${page})
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/${page} ${page_file} @ONLY)
    add_custom_command(OUTPUT ${page_file}.gz
        COMMAND gzip -9nkf ${page_file}
        DEPENDS ${page_file}
        COMMENT "Manual page ${page}")
    string(MAKE_C_IDENTIFIER "${page}" name)
    add_custom_target(torvi_man_${name} ALL DEPENDS ${page_file}.gz)
    install(FILES ${page_file}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
