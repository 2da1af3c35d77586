# cmake --install: the programs in bin/, the module's static libraries and
# headers in lib/ and include/webservices/ with a package config for
# find_package(webservices), the documents and the demo in share/doc/webservices/.
# cpack -G DEB packages the same files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(WEBSERVICES_VERSION 0.1.0)
set(WEBSERVICES_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/webservices)
set(WEBSERVICES_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/webservices)

install(TARGETS webservices webservices-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The libraries a host framework links, exported as webservices::<name>. Their
# include folders are the source and build trees while building; installed,
# the headers keep their folders under include/webservices/.
set(webservices_exported webservices_options webservices_base webservices_fetch webservices_feed webservices_config
  webservices_core ${WEBSERVICES_FAMILY_LIBS} webservices_module)
foreach(target ${webservices_exported})
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(dirs)
    set(wrapped)
    foreach(dir ${dirs})
      if(dir MATCHES "^\\$<")
        list(APPEND wrapped "${dir}")
      else()
        list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
      endif()
    endforeach()
    set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
  endif()
  string(REGEX REPLACE "^webservices_" "" export_name ${target})
  set_property(TARGET ${target} PROPERTY EXPORT_NAME ${export_name})
endforeach()
target_include_directories(webservices_base INTERFACE $<INSTALL_INTERFACE:${WEBSERVICES_INCLUDE_DIR}>)

install(TARGETS ${webservices_exported} EXPORT webservicesTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(folder platform util core feeds)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder} DESTINATION ${WEBSERVICES_INCLUDE_DIR}
    FILES_MATCHING PATTERN "*.h")
endforeach()
install(EXPORT webservicesTargets NAMESPACE webservices:: DESTINATION ${WEBSERVICES_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/webservicesConfig.cmake.in
  ${PROJECT_BINARY_DIR}/webservicesConfig.cmake INSTALL_DESTINATION ${WEBSERVICES_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/webservicesConfigVersion.cmake
  VERSION ${WEBSERVICES_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/webservicesConfig.cmake ${PROJECT_BINARY_DIR}/webservicesConfigVersion.cmake
  DESTINATION ${WEBSERVICES_CMAKE_DIR})

# Documents, and the demo with its file root (what a run of the demo leaves there is not shipped).
set(WEBSERVICES_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/webservices)
file(GLOB webservices_docs ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${webservices_docs} DESTINATION ${WEBSERVICES_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/demo DESTINATION ${WEBSERVICES_DOC_DIR}/examples
  PATTERN "gtfs_vehicles.csv" EXCLUDE PATTERN "*.tmp*" EXCLUDE)

# Debian package.
set(CPACK_PACKAGE_NAME webservices)
set(CPACK_PACKAGE_VERSION ${WEBSERVICES_VERSION})
set(CPACK_PACKAGE_VENDOR "webservices")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Web-services module of an on-vehicle passenger-information computer, with its host runner")
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "webservices maintainers <webservices@localhost>")
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The runner starts curl and reads the zone files; the installed headers
# include jsoncpp's and RapidXML's, and the libraries link SQLite.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "curl, ca-certificates, tzdata, pkg-config, libjsoncpp-dev, librapidxml-dev, libsqlite3-dev, libcurl4-openssl-dev")
find_program(WEBSERVICES_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(WEBSERVICES_DPKG_SHLIBDEPS AND NOT DEFINED CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the programs' own shared libraries, as dpkg finds them
endif()
# CPack asks dpkg for the architecture, which is the build machine's; a cross
# build packages for its target instead.
if(CMAKE_CROSSCOMPILING AND NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE webservices_triplet
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(webservices_triplet MATCHES "^arm.*gnueabihf$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  elseif(webservices_triplet MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armel)
  elseif(webservices_triplet MATCHES "^aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(webservices_triplet MATCHES "^(i.86)")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  elseif(webservices_triplet MATCHES "^x86_64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
endif()
include(CPack)
