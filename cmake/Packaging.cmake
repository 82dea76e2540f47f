# What `cmake --install` lays out, and the Debian package CPack makes of it
# (scripts/package.sh builds it from the native-release preset, whose prefix
# is /usr). The Windows build installs its programs flat, for the installer.

if(WIN32)
  install(TARGETS pelkomon stopmon sendrik pelkoreport pelkoctl RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/share/Tavisk.xsl DESTINATION .)
  return()
endif()

include(GNUInstallDirs)

set(PELKO_DEB_MAINTAINER "Pelko developers <pelko@pelko.example>")
set(PELKO_DEB_VERSION ${PROJECT_VERSION})
set(pelko_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(pelko_staged ${CMAKE_BINARY_DIR}/packaging)
set(pelko_docdir ${CMAKE_INSTALL_DATADIR}/doc/pelko)

# Debian wants man pages and changelogs gzipped without a name or a time
# stamp, so that the same sources give the same package.
function(pelko_gzip_n source output)
  get_filename_component(name ${output} NAME_WLE)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${pelko_staged}/${name}
    COMMAND gzip -9nf ${pelko_staged}/${name}
    DEPENDS ${source}
    VERBATIM)
endfunction()

configure_file(${pelko_packaging}/debian/changelog.in ${pelko_staged}/changelog.src @ONLY)
pelko_gzip_n(${pelko_staged}/changelog.src ${pelko_staged}/changelog.gz)
set(pelko_man_pages pelkomon.8 stopmon.8 pelkoctl.8 pelkodb.8 sendrik.8 pelkoreg.1 pelkoreport.1)
set(pelko_gzipped ${pelko_staged}/changelog.gz)
foreach(page ${pelko_man_pages})
  pelko_gzip_n(${pelko_packaging}/man/${page} ${pelko_staged}/${page}.gz)
  list(APPEND pelko_gzipped ${pelko_staged}/${page}.gz)
endforeach()
add_custom_target(pelko_packaging_files ALL DEPENDS ${pelko_gzipped})

# pelkoctl beside the agent: its check finds the agent by that file.
install(TARGETS pelkomon stopmon sendrik pelkoctl pelkodb RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS pelkoreg pelkoreport RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package's) also drops the compiler's notes, as
# Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program ${CMAKE_INSTALL_SBINDIR}/pelkomon ${CMAKE_INSTALL_SBINDIR}/stopmon
                    ${CMAKE_INSTALL_SBINDIR}/sendrik ${CMAKE_INSTALL_SBINDIR}/pelkoctl
                    ${CMAKE_INSTALL_SBINDIR}/pelkodb ${CMAKE_INSTALL_BINDIR}/pelkoreg
                    ${CMAKE_INSTALL_BINDIR}/pelkoreport)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                              --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")
install(FILES ${CMAKE_SOURCE_DIR}/share/Tavisk.xsl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pelko)
install(FILES ${pelko_staged}/pelkomon.8.gz ${pelko_staged}/stopmon.8.gz
              ${pelko_staged}/pelkoctl.8.gz ${pelko_staged}/pelkodb.8.gz ${pelko_staged}/sendrik.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${pelko_staged}/pelkoreg.1.gz ${pelko_staged}/pelkoreport.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pelko_packaging}/debian/copyright ${pelko_staged}/changelog.gz
              ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${pelko_docdir})
set(pelko_docs database.md design.md install.md logs.md mail.md monitoring.md registry-store.md report.md settings.md
    layers-linux.png layers-windows.png report-desktop.png report-phone.png report-site-desktop.png
    report-site-phone.png report-daily.png report-global.png)
list(TRANSFORM pelko_docs PREPEND ${CMAKE_SOURCE_DIR}/docs/)
install(FILES ${pelko_docs} DESTINATION ${pelko_docdir}/docs)
# Where Debian's systemd looks for the units of packages.
install(FILES ${pelko_packaging}/pelkomon.service DESTINATION /lib/systemd/system)
# The report site on a timer, off until an administrator enables it.
install(FILES ${pelko_packaging}/pelko-report-site.service ${pelko_packaging}/pelko-report-site.timer
        DESTINATION /lib/systemd/system)
install(FILES ${pelko_packaging}/pelko-report-site.default
        DESTINATION /etc/default RENAME pelko-report-site)
install(PROGRAMS ${pelko_packaging}/pelko-report-site.sh
        DESTINATION libexec/pelko RENAME report-site)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelko)
set(CPACK_PACKAGE_VERSION ${PELKO_DEB_VERSION})
set(CPACK_PACKAGE_VENDOR "Pelko developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print-accounting agent for CUPS queues")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Pelko watches the print queues it is given, gives each job the pages that
CUPS counted for it, prices them at the printer's cost per page and records
every job in a daily XML log per printer. It deletes old logs and
periodically hands a global log to a mail program.

This package runs the agent as the systemd service pelkomon.service and
holds its stop tool, pelkoctl, which configures and checks it, and
pelkoreg, which edits its settings in reg.exe's manner. The timer
pelko-report-site.timer, off until enabled, keeps a static report site of
the logs for the office's web server.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PELKO_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups, xsltproc")
# Ghostscript measures each document for colour; without it a job's asked
# mode tells its colour pages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ghostscript")
# groupadd, for the group that reads the logs (postinst).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
# The dependencies as the programs' own libraries say (dpkg-dev's
# dpkg-shlibdeps, which scripts/setup.sh installs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${pelko_packaging}/debian/postinst
    ${pelko_packaging}/debian/prerm
    ${pelko_packaging}/debian/postrm
    ${pelko_packaging}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
include(CPack)
