# What `cmake --install` puts under the prefix, and the Debian package made from it
# (`make package`): the tool with its embedded stub, the manual page and the bash
# completion.
include(GNUInstallDirs)
# Installing and packaging take what is built and build nothing themselves: `make
# package` builds the tool first, and the package test, running beside other tests,
# must not relink their programs under them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The tool is installed stripped, as the package has it (the build keeps its debug
# information); -DVORPANEX_INSTALL_STRIP=OFF installs it as built.
option(VORPANEX_INSTALL_STRIP "Strip the tool when installing it" ON)
if(VORPANEX_INSTALL_STRIP)
  install(CODE "set(CMAKE_INSTALL_DO_STRIP ON)")
endif()
install(TARGETS vorpanex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page and the changelog are installed compressed, as Debian's policy asks:
# gzip -9n leaves no name or time stamp, so the package stays reproducible. They are
# compressed when CMake configures and again whenever their sources change.
find_program(VORPANEX_GZIP gzip REQUIRED)
set(VORPANEX_COMPRESSED_DIR ${CMAKE_BINARY_DIR}/compressed)
file(MAKE_DIRECTORY ${VORPANEX_COMPRESSED_DIR})
foreach(source doc/vorpanex.1 debian/changelog)
  get_filename_component(name ${source} NAME)
  execute_process(COMMAND ${VORPANEX_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/${source}
                  OUTPUT_FILE ${VORPANEX_COMPRESSED_DIR}/${name}.gz
                  RESULT_VARIABLE compressed)
  if(NOT compressed EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${source}")
  endif()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/${source})
endforeach()
install(FILES ${VORPANEX_COMPRESSED_DIR}/vorpanex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VORPANEX_COMPRESSED_DIR}/changelog.gz ${CMAKE_SOURCE_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/doc/vorpanex.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vorpanex)

set(VORPANEX_PACKAGE_MAINTAINER "vorpanex maintainers <maintainers@vorpanex.org>" CACHE STRING
    "The Maintainer field of the Debian package")
# A build folder configured before the project had an address may hold one at
# localhost, which Debian's checks reject as bogus.
if(VORPANEX_PACKAGE_MAINTAINER MATCHES "@localhost>?$")
  set(VORPANEX_PACKAGE_MAINTAINER "vorpanex maintainers <maintainers@vorpanex.org>" CACHE STRING
      "The Maintainer field of the Debian package" FORCE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorpanex)
set(CPACK_PACKAGE_VENDOR vorpanex)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and checks self-extracting setups for 32-bit Windows")
# Lines of at most 80 columns: CPack keeps the line breaks written here.
set(CPACK_PACKAGE_DESCRIPTION "\
vorpanex packs a folder of setup files into a self-extracting setup for 32-bit
Windows (a small stub program followed by an LHA archive), and lists, tests and
extracts such setups and bare .lzh archives with the same decoding code that
runs inside the stub. The stub is built into the tool: making a setup needs no
Windows tools.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORPANEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode, wine")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps (dpkg-dev) names the exact library versions; without it, the libraries
# that every g++ program links.
find_program(VORPANEX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VORPANEX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

# A tool without its stub cannot make setups: refuse to package it.
if(VORPANEX_STUB_FILE AND EXISTS "${VORPANEX_STUB_FILE}")
  set(CPACK_VORPANEX_STUB_EMBEDDED ON)
else()
  set(CPACK_VORPANEX_STUB_EMBEDDED OFF)
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package-check.cmake)

include(CPack)
