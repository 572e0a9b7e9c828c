# Debian packages (CPack, DEB): `orvanta`, the suite, and `dfe58000-server`, the application
# server. `make package` builds what they hold (target package-contents) and runs cpack.
#
# Each package keeps its programs and private libraries under a directory of its own, laid out
# as the build tree is (bin/, lib/, and for the suite modules/ and reports/), because the
# programs find their libraries through RPATH $ORIGIN/../lib and the host finds modules and
# report definitions beside its own bin/. /usr/bin holds links to the programs. The two
# packages do not share files, so the server can go on a machine without the suite's widgets.
#   orvanta          /usr/lib/orvanta/{bin,lib,modules}, reports in /usr/share/orvanta/reports
#   dfe58000-server  /usr/lib/dfe58000-server/{bin,lib}, the systemd unit, /etc/dfe58000,
#                    man pages; state (SQLite database, demo certificate) in /var/lib/dfe58000

include(GNUInstallDirs)

# Installing (and so cpack) does not build the whole project, tests and all, first: the target
# package-contents builds what the packages hold.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ORVANTA_SUITE_DIR lib/orvanta)
set(ORVANTA_SERVER_DIR lib/dfe58000-server)

install(TARGETS orvanta RUNTIME DESTINATION ${ORVANTA_SUITE_DIR}/bin COMPONENT suite)
install(TARGETS host hostbase LIBRARY DESTINATION ${ORVANTA_SUITE_DIR}/lib COMPONENT suite)
install(TARGETS DFE58000 DFE15200 DFE59000
    LIBRARY DESTINATION ${ORVANTA_SUITE_DIR}/modules COMPONENT suite)
install(FILES ${REPORT_DEFINITIONS} DESTINATION ${CMAKE_INSTALL_DATADIR}/orvanta/reports
    COMPONENT suite)

install(TARGETS dfe58000-server dfe58000-call
    RUNTIME DESTINATION ${ORVANTA_SERVER_DIR}/bin COMPONENT server)
install(TARGETS hostbase LIBRARY DESTINATION ${ORVANTA_SERVER_DIR}/lib COMPONENT server)

# The modules and libraries are built with the build tree's RPATH; installed, every program,
# module and library finds its neighbours in ../lib (a library's own lib/../lib is lib/).
foreach(target orvanta host hostbase DFE58000 DFE15200 DFE59000 dfe58000-server dfe58000-call)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
endforeach()

# Links: /usr/bin/<program> and the host's reports/ beside its bin/.
set(links_dir ${CMAKE_BINARY_DIR}/packaging/links)
file(MAKE_DIRECTORY ${links_dir}/suite ${links_dir}/server)
file(CREATE_LINK ../${ORVANTA_SUITE_DIR}/bin/orvanta ${links_dir}/suite/orvanta SYMBOLIC)
file(CREATE_LINK ../../share/orvanta/reports ${links_dir}/suite/reports SYMBOLIC)
file(CREATE_LINK ../${ORVANTA_SERVER_DIR}/bin/dfe58000-server ${links_dir}/server/dfe58000-server
    SYMBOLIC)
file(CREATE_LINK ../${ORVANTA_SERVER_DIR}/bin/dfe58000-call ${links_dir}/server/dfe58000-call
    SYMBOLIC)
install(FILES ${links_dir}/suite/orvanta DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT suite)
install(FILES ${links_dir}/suite/reports DESTINATION ${ORVANTA_SUITE_DIR} COMPONENT suite)
install(FILES ${links_dir}/server/dfe58000-server ${links_dir}/server/dfe58000-call
    DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)

# The service: unit, configuration (a conffile) and man pages, compressed as Debian wants them.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/server/dfe58000-server.service
    DESTINATION /lib/systemd/system COMPONENT server)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/server/server.conf DESTINATION /etc/dfe58000
    COMPONENT server)
set(man_pages)
foreach(page orvanta.1 dfe58000-server.1 dfe58000-call.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/man/${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man
        COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/man/${page}
            > ${CMAKE_BINARY_DIR}/packaging/man/${page}.gz
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/man/${page} VERBATIM)
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/packaging/man/${page}.gz)
endforeach()
add_custom_target(man-pages DEPENDS ${man_pages})
install(FILES ${CMAKE_BINARY_DIR}/packaging/man/orvanta.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT suite)
install(FILES ${CMAKE_BINARY_DIR}/packaging/man/dfe58000-server.1.gz
    ${CMAKE_BINARY_DIR}/packaging/man/dfe58000-call.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)

# What the packages hold, built without the tests and benchmarks.
add_custom_target(package-contents)
add_dependencies(package-contents orvanta host hostbase DFE58000 DFE15200 DFE59000
    dfe58000-server dfe58000-call man-pages)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanta)
set(CPACK_PACKAGE_VENDOR Orvanta)
set(CPACK_PACKAGE_CONTACT "Orvanta <suporte@orvanta.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL suite server)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SUITE_PACKAGE_NAME orvanta)
set(CPACK_COMPONENT_SUITE_DESCRIPTION
    "suíte de gestão Orvanta com a Manifestação do Destinatário da NF-e
O programa principal orvanta, suas bibliotecas, os módulos DFE58000
(Manifestação do Destinatário), DFE15200 (visualização de documento) e
DFE59000 (sincronização de NF-e) e as definições de relatório. Fala com o
servidor de aplicação dfe58000-server.")
# Qt loads the database drivers and the window system's plugin at run time.
set(CPACK_DEBIAN_SUITE_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins")
set(CPACK_DEBIAN_SUITE_PACKAGE_RECOMMENDS
    "libqt6sql6-psql, qt6-translations-l10n, fonts-dejavu-core")
set(CPACK_DEBIAN_SUITE_PACKAGE_SUGGESTS dfe58000-server)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME dfe58000-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "servidor de aplicação DFE58000 da suíte Orvanta (Manifestação do Destinatário)
O servidor dfe58000-server atende os métodos do módulo rdmManifestacao
sobre o banco da empresa (SQLite ou PostgreSQL) e simula a autoridade
fiscal; dfe58000-call chama esses métodos pela linha de comando. Instala o
serviço systemd dfe58000-server, no loopback, com a configuração em
/etc/dfe58000/server.conf.")
# The demo certificate is made by the openssl program; adduser makes the service's user.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libqt6sql6-sqlite, openssl, adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS libqt6sql6-psql)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/server/conffiles ${CMAKE_CURRENT_LIST_DIR}/server/postinst
    ${CMAKE_CURRENT_LIST_DIR}/server/prerm ${CMAKE_CURRENT_LIST_DIR}/server/postrm)

include(CPack)
