# The version, the install layout and the packages built from it:
#   Linux:   cpack -> kelvorin_<version>_<arch>.deb
#   Windows: cpack -> kelvorin-<version>-win64.zip or -win32.zip
# scripts/package.sh makes all three with SHA256SUMS beside them.

target_compile_definitions(kelvorin_check PRIVATE KELVORIN_VERSION="${PROJECT_VERSION}")

set(KELVORIN_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(KELVORIN_STAGE ${PROJECT_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${KELVORIN_STAGE})
# Read or compressed while configuring: a change must configure again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md
             ${KELVORIN_PACKAGING}/debian/changelog)

# The settings file shipped with the programs. Until Source names a real data
# source every run fails; Quarantine then keeps the message out of the host's
# way without losing it.
function(kelvorin_settings_file request quarantine newline)
  set(KELVORIN_INI_REQUEST ${request})
  set(KELVORIN_INI_QUARANTINE ${quarantine})
  configure_file(${KELVORIN_PACKAGING}/kelvorin.INI.in ${KELVORIN_STAGE}/kelvorin.INI
                 @ONLY NEWLINE_STYLE ${newline})
endfunction()

# A gzip file as Debian wants it: best compression, no time stamp.
function(kelvorin_gzip source target)
  execute_process(COMMAND gzip -9nc INPUT_FILE ${source} OUTPUT_FILE ${target}
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()

if(WIN32)
  enable_language(RC)
  foreach(program kelvorin kelvorin-check)
    set(KELVORIN_RC_NAME ${program})
    if(program STREQUAL "kelvorin")
      set(KELVORIN_RC_DESCRIPTION "Kelvorin: merges database rows into e-mail messages")
    else()
      set(KELVORIN_RC_DESCRIPTION "Kelvorin check: what the plug-in would make of a mailing")
    endif()
    configure_file(${KELVORIN_PACKAGING}/windows/kelvorin.rc.in
                   ${PROJECT_BINARY_DIR}/${program}.rc @ONLY)
    target_sources(${program} PRIVATE ${PROJECT_BINARY_DIR}/${program}.rc)
  endforeach()

  # Everything in one folder: the programs find their files beside them.
  kelvorin_settings_file(kelvorin.sql quarantine CRLF)
  configure_file(${KELVORIN_PACKAGING}/kelvorin.sql ${KELVORIN_STAGE}/kelvorin.sql
                 NEWLINE_STYLE CRLF)
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${KELVORIN_STAGE}/README.txt "${readme}")
  install(TARGETS kelvorin kelvorin-check RUNTIME DESTINATION .)
  install(FILES ${KELVORIN_STAGE}/kelvorin.INI ${KELVORIN_STAGE}/kelvorin.sql
                ${KELVORIN_STAGE}/README.txt DESTINATION .)
  install(DIRECTORY DESTINATION quarantine)

  if(CMAKE_SYSTEM_PROCESSOR MATCHES "86$")
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # Debian's places, reached from beside the program through links, since
  # the program looks for its settings and its log there.
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
  endif()
  include(GNUInstallDirs)
  set(program_dir lib/kelvorin)
  set(etc_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR}/kelvorin)
  set(log_dir ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/log/kelvorin)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/kelvorin)
  kelvorin_settings_file(${etc_dir}/kelvorin.sql
                         ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/spool/kelvorin/quarantine LF)
  file(CREATE_LINK ${etc_dir}/kelvorin.INI ${KELVORIN_STAGE}/kelvorin.INI-link SYMBOLIC)
  file(CREATE_LINK ${log_dir}/kelvorin.LOG ${KELVORIN_STAGE}/kelvorin.LOG SYMBOLIC)
  file(CREATE_LINK ../lib/kelvorin/kelvorin-check ${KELVORIN_STAGE}/kelvorin-check SYMBOLIC)
  configure_file(${KELVORIN_PACKAGING}/debian/kelvorin-check.1
                 ${KELVORIN_STAGE}/kelvorin-check.1 @ONLY)
  kelvorin_gzip(${KELVORIN_STAGE}/kelvorin-check.1 ${KELVORIN_STAGE}/kelvorin-check.1.gz)
  kelvorin_gzip(${KELVORIN_PACKAGING}/debian/changelog ${KELVORIN_STAGE}/changelog.gz)
  kelvorin_gzip(${PROJECT_SOURCE_DIR}/README.md ${KELVORIN_STAGE}/README.md.gz)

  install(TARGETS kelvorin kelvorin-check RUNTIME DESTINATION ${program_dir})
  install(FILES ${KELVORIN_STAGE}/kelvorin.INI-link DESTINATION ${program_dir}
          RENAME kelvorin.INI)
  install(FILES ${KELVORIN_STAGE}/kelvorin.LOG DESTINATION ${program_dir})
  install(FILES ${KELVORIN_STAGE}/kelvorin-check DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KELVORIN_STAGE}/kelvorin.INI ${KELVORIN_PACKAGING}/kelvorin.sql
          DESTINATION ${etc_dir})
  install(FILES ${KELVORIN_PACKAGING}/debian/kelvorin.logrotate
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d RENAME kelvorin)
  install(FILES ${KELVORIN_STAGE}/kelvorin-check.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${KELVORIN_PACKAGING}/debian/copyright ${KELVORIN_STAGE}/changelog.gz
                ${KELVORIN_STAGE}/README.md.gz DESTINATION ${doc_dir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION mail)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "libsqliteodbc | odbc-postgresql | odbc-mariadb, odbcinst, logrotate")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libsqliteodbc, odbc-postgresql, odbc-mariadb, unixodbc")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KELVORIN_PACKAGING}/debian/conffiles
      ${KELVORIN_PACKAGING}/debian/postinst ${KELVORIN_PACKAGING}/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

set(CPACK_PACKAGE_NAME kelvorin)
set(CPACK_PACKAGE_VENDOR "the Kelvorin developers")
set(CPACK_PACKAGE_CONTACT "Kelvorin developers <kelvorin@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "merges database rows into outgoing e-mail messages")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelvorin is a plug-in of a mass-mailing host: run once for every message\n"
    "file about to be sent, it finds the recipient's address in the message,\n"
    "runs an SQL query over ODBC and rewrites the message with the rows merged\n"
    "in, logging every step. kelvorin-check shows what it would make of a\n"
    "message or a whole mailing, and summarises its log.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
