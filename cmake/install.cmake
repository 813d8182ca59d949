# What `cmake --install` puts where, and the Debian package that CPack makes
# of it (scripts/package).
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS kestrin kestrin-cab kestrinctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages and the package changelog, compressed the way Debian wants
# them (gzip -9, no name or time stamp in the header, so the bytes depend on
# the text alone).
set(compressed)
foreach(page kestrin.1 kestrin-cab.1 kestrinctl.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/doc/changelog COPYONLY)
list(APPEND compressed ${PROJECT_BINARY_DIR}/doc/changelog.gz)
foreach(gz ${compressed})
  string(REGEX REPLACE "\\.gz$" "" plain ${gz})
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9 -n -k -f ${plain}
    DEPENDS ${plain}
    COMMENT "Compressing ${plain}"
    VERBATIM)
endforeach()
add_custom_target(kestrin_docs ALL DEPENDS ${compressed})

install(FILES ${PROJECT_BINARY_DIR}/man/kestrin.1.gz ${PROJECT_BINARY_DIR}/man/kestrin-cab.1.gz
              ${PROJECT_BINARY_DIR}/man/kestrinctl.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md packaging/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
              docs/kestrinctl-json.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Completion of kestrinctl's commands, options and bundle files for bash.
install(FILES data/kestrinctl.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME kestrinctl)
# The sample bundle's source and the script that packs it.
install(DIRECTORY examples/fennick-fx200 DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(PROGRAMS examples/make-bundle DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The desktop entry and icon start the dialog: only a build with it gets them.
if(TARGET kestrin_ui_wx)
  install(FILES data/kestrin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/kestrin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(KESTRIN_PACKAGE_MAINTAINER "Kestrin developers <kestrin@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME kestrin)
set(CPACK_PACKAGE_VENDOR "${KESTRIN_PACKAGE_VENDOR}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installs OEM driver bundles into a Korvane PLC programming system")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrin installs driver bundles that hardware vendors supply for their
controllers into an installed Korvane, a PLC programming system. A bundle
is a Microsoft cabinet file with a description file hw.ini and folders of
hardware definitions, driver libraries, help pages, print forms, samples,
templates and libraries.
.
kestrin unpacks each bundle with its own cabinet decoder (stored, MSZIP,
Quantum, LZX), runs the installation steps in a fixed order, records which
vendor installed which file and logs every step. It installs silently from
the command line (no display needed) or from a dialog.
.
kestrin-cab lists, tests and extracts cabinet files with the same decoder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies come from the libraries the programs link
# (dpkg-shlibdeps): the C and C++ runtimes, and wxWidgets with the dialog.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# OpenSSL's libcrypto is loaded only when a signature is made or checked, so
# dpkg-shlibdeps does not see it: the package that holds the library the
# build found is named here, for the major version its headers are of (the
# symbols used are all as old as that).
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
get_filename_component(libcrypto_file "${OPENSSL_CRYPTO_LIBRARY}" REALPATH)
set(libcrypto_package "")
find_program(KESTRIN_DPKG_QUERY dpkg-query)
if(KESTRIN_DPKG_QUERY)
  # With merged /usr a library may be registered under /lib.
  string(REGEX REPLACE "^/usr/lib/" "/lib/" libcrypto_file_unmerged "${libcrypto_file}")
  foreach(file "${libcrypto_file}" "${libcrypto_file_unmerged}")
    execute_process(COMMAND ${KESTRIN_DPKG_QUERY} -S "${file}"
                    OUTPUT_VARIABLE owner ERROR_QUIET RESULT_VARIABLE status)
    if(status EQUAL 0 AND owner MATCHES "^([^:, ]+)")
      set(libcrypto_package "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
endif()
if(libcrypto_package STREQUAL "")
  message(WARNING "no Debian package holds ${libcrypto_file}: "
                  "the Debian package made here does not depend on OpenSSL")
else()
  string(REGEX MATCH "^[0-9]+" openssl_major "${OPENSSL_VERSION}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${libcrypto_package} (>= ${openssl_major}.0.0)")
endif()
# examples/make-bundle packs the sample bundle with gcab.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gcab)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
