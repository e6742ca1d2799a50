# Debian packages of the Linux build (scripts/package): "dbsetup", the program with its menu entry,
# icon and manual page, and "dbsetup-sqlsim", the SQL Server simulator for trying it out. CPack's
# DEB generator makes one package per install component. The sources of the non-program files are
# in packaging/; the icon is drawn by scripts/lib/draw-icon.py, the one drawing behind the Windows
# .ico as well.

# Release builds get the hardening Debian builds its own packages with (dpkg-buildflags): stack
# protector, fortified libc calls, read-only relocations bound at start-up.
if(NOT DBSETUP_SANITIZE AND NOT DBSETUP_FUZZ)
    set(dbsetup_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    target_compile_options(dbsetup_flags INTERFACE $<${dbsetup_optimised}:-fstack-protector-strong>)
    target_compile_definitions(dbsetup_flags INTERFACE $<${dbsetup_optimised}:_FORTIFY_SOURCE=2>)
    target_link_options(dbsetup_flags INTERFACE $<${dbsetup_optimised}:LINKER:-z,relro,-z,now>)
endif()

include(GNUInstallDirs)

set(DBSETUP_PACKAGE_MAINTAINER "dbsetup developers <dbsetup@example.invalid>"
    CACHE STRING "The Maintainer field of the Debian packages")

# The generated files: icons, manual pages, changelog. Built by the target package_files, which
# scripts/package builds with the programs; not part of "all", so that a plain build needs
# neither python3 nor scdoc.
set(dbsetup_pkg ${CMAKE_BINARY_DIR}/packaging)
set(dbsetup_pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(dbsetup_icon_sizes 16 24 32 48 64 128 256)
find_program(DBSETUP_PYTHON3 python3)
find_program(DBSETUP_SCDOC scdoc)
find_program(DBSETUP_DPKG_PARSECHANGELOG dpkg-parsechangelog)
if(NOT DBSETUP_PYTHON3 OR NOT DBSETUP_SCDOC OR NOT DBSETUP_DPKG_PARSECHANGELOG)
    message(STATUS "python3, scdoc or dpkg-parsechangelog missing: the Debian packages cannot "
                   "be made (scripts/setup-deps --package installs them)")
endif()

set(dbsetup_icons ${dbsetup_pkg}/icons/dbsetup.svg)
foreach(size ${dbsetup_icon_sizes})
    list(APPEND dbsetup_icons ${dbsetup_pkg}/icons/dbsetup-${size}.png)
endforeach()
add_custom_command(OUTPUT ${dbsetup_icons}
    COMMAND ${DBSETUP_PYTHON3} ${PROJECT_SOURCE_DIR}/scripts/lib/draw-icon.py ${dbsetup_pkg}/icons
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/lib/draw-icon.py
    COMMENT "Drawing the icon" VERBATIM)

set(dbsetup_package_tool_args
    -DSCDOC=${DBSETUP_SCDOC} -DPARSECHANGELOG=${DBSETUP_DPKG_PARSECHANGELOG}
    -DCHANGELOG=${dbsetup_pkg_src}/changelog -DVERSION=${PROJECT_VERSION})
set(dbsetup_generated)
foreach(page dbsetup sqlsim)
    add_custom_command(OUTPUT ${dbsetup_pkg}/${page}.1.gz
        COMMAND ${CMAKE_COMMAND} -DMODE=man ${dbsetup_package_tool_args}
                -DSOURCE=${dbsetup_pkg_src}/${page}.1.scd -DOUTPUT=${dbsetup_pkg}/${page}.1.gz
                -P ${PROJECT_SOURCE_DIR}/cmake/PackagingFile.cmake
        DEPENDS ${dbsetup_pkg_src}/${page}.1.scd ${dbsetup_pkg_src}/changelog
                ${PROJECT_SOURCE_DIR}/cmake/PackagingFile.cmake
        COMMENT "Manual page ${page}(1)" VERBATIM)
    list(APPEND dbsetup_generated ${dbsetup_pkg}/${page}.1.gz)
endforeach()
add_custom_command(OUTPUT ${dbsetup_pkg}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -DMODE=changelog ${dbsetup_package_tool_args}
            -DOUTPUT=${dbsetup_pkg}/changelog.gz -P ${PROJECT_SOURCE_DIR}/cmake/PackagingFile.cmake
    DEPENDS ${dbsetup_pkg_src}/changelog ${PROJECT_SOURCE_DIR}/cmake/PackagingFile.cmake
    COMMENT "Changelog" VERBATIM)
add_custom_target(package_files DEPENDS ${dbsetup_icons} ${dbsetup_generated}
                                        ${dbsetup_pkg}/changelog.gz)

# What goes where; the packaging prefix is /usr. Directories get 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# "install" and CPack build nothing themselves: scripts/package builds the programs and
# package_files, and a build folder with the tests configured (scripts/test's release folder)
# does not build every test for a package.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS dbsetup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dbsetup)
install(FILES ${dbsetup_pkg_src}/dbsetup.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT dbsetup)
install(FILES ${dbsetup_pkg}/icons/dbsetup.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT dbsetup)
foreach(size ${dbsetup_icon_sizes})
    install(FILES ${dbsetup_pkg}/icons/dbsetup-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME dbsetup.png COMPONENT dbsetup)
endforeach()
install(FILES ${dbsetup_pkg}/dbsetup.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT dbsetup)
install(FILES ${dbsetup_pkg_src}/copyright ${dbsetup_pkg}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/dbsetup COMPONENT dbsetup)

if(TARGET sqlsim)
    install(TARGETS sqlsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sqlsim)
    install(FILES ${dbsetup_pkg}/sqlsim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT sqlsim)
    install(FILES ${dbsetup_pkg_src}/copyright ${dbsetup_pkg}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/dbsetup-sqlsim COMPONENT sqlsim)
endif()

# The packages: one per component, named dbsetup_VERSION_ARCH.deb (ARCH from dpkg).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dbsetup)
set(CPACK_PACKAGE_VENDOR "dbsetup developers")
set(CPACK_PACKAGE_CONTACT ${DBSETUP_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL dbsetup)
if(TARGET sqlsim)
    list(APPEND CPACK_COMPONENTS_ALL sqlsim)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
# The libraries the programs link, from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_DBSETUP_PACKAGE_NAME dbsetup)
# What the program loads at run time, unseen by dpkg-shlibdeps: Qt's Russian texts
# (qtbase_ru.qm), Qt's platform plugins (xcb, offscreen), the ODBC driver, which tdsodbc's
# maintainer script registers as "FreeTDS" in /etc/odbcinst.ini (the name the program asks the
# driver manager for), and Kerberos's GSS-API library, which the program opens by name to say
# why a Windows-authentication login failed (tdsodbc needs it as well).
set(CPACK_DEBIAN_DBSETUP_PACKAGE_DEPENDS
    "qt6-translations-l10n, qt6-qpa-plugins, tdsodbc, libgssapi-krb5-2")
# Certificate checks of encrypted connections read ca-certificates' bundle. Qt's wayland plugin
# brings Qt Quick along; without it a Wayland session shows the window through XWayland.
set(CPACK_DEBIAN_DBSETUP_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_DBSETUP_PACKAGE_SUGGESTS "dbsetup-sqlsim, krb5-user, qt6-wayland")
set(CPACK_COMPONENT_DBSETUP_DESCRIPTION
"set up the SQL Server database of a business application
dbsetup connects to a Microsoft SQL Server, lists, attaches and detaches
databases, backs a database up together with the application's own files,
restores it under a chosen name into a chosen folder, and runs ad-hoc SQL
with an editable grid and export. A batch mode (-backup_db, -restore_db)
serves scripts and cron without a display.
.
It reaches the server through unixODBC and FreeTDS. Its texts are Russian.")

set(CPACK_DEBIAN_SQLSIM_PACKAGE_NAME dbsetup-sqlsim)
set(CPACK_DEBIAN_SQLSIM_PACKAGE_SUGGESTS "dbsetup, freetds-bin")
set(CPACK_COMPONENT_SQLSIM_DESCRIPTION
"SQL Server simulator for trying dbsetup out
sqlsim plays Microsoft SQL Server on 127.0.0.1 for dbsetup, its tests and
its demo: a TDS 7.4 peer that FreeTDS's ODBC driver and tsql talk to, each
database an SQLite file. It serves backup and restore with progress and
answers with SQL Server's error numbers and texts. It is no server for real
data.")

# A package holds what a release build made: no sanitizers, an optimised build type.
configure_file(${PROJECT_SOURCE_DIR}/cmake/PackagingCheck.cmake.in
               ${CMAKE_BINARY_DIR}/PackagingCheck.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/PackagingCheck.cmake)
include(CPack)
