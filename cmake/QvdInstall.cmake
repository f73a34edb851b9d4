# What `cmake --install` lays out, and the packages CPack makes of it: the
# part of the agent's install tree that belongs to the collector.
#   <prefix>/<QVD_BINARCH>/vd/bin/qvdclient
#   <prefix>/<QVD_BINARCH>/vd/doc/qvdclient/  the administrator's guide
#   <prefix>/<QVD_BINARCH>/vd/doc/qvdclient/examples/  the sample start script
#     and environment file; the script is not put into vd/bin, where it
#     would stand for (and could replace) the installation's own start
#     script and lock file
#   <prefix>/<QVD_BINARCH>/vd/bin/qvdexporter and vd/doc/qvdexporter/, when
#   prometheus-cpp is there to build it (qvdexporter/CMakeLists.txt)
# The prefix is the agent's install home (HALCYONHOME).  The simulated
# server library, agentsim and the relay stand-in stay out: on a real host
# the collector uses the server's own libvaxel.so (docs/collector.md,
# "Installing").
set(QVD_BINARCH "linux64" CACHE STRING
  "Platform folder of the agent's install tree, the value of QVD_BINARCH on the target host")

if(TARGET qvdclient)
  install(TARGETS qvdclient RUNTIME DESTINATION ${QVD_BINARCH}/vd/bin COMPONENT collector)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/collector.md ${PROJECT_SOURCE_DIR}/docs/keyword-overrides.md
  DESTINATION ${QVD_BINARCH}/vd/doc/qvdclient COMPONENT collector)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/qvdstart.sh
  DESTINATION ${QVD_BINARCH}/vd/doc/qvdclient/examples COMPONENT collector)
install(FILES ${PROJECT_SOURCE_DIR}/examples/qvdclient.env
  DESTINATION ${QVD_BINARCH}/vd/doc/qvdclient/examples COMPONENT collector)

set(CPACK_PACKAGE_NAME "qvdclient")
set(CPACK_PACKAGE_VENDOR "qvdclient")
set(CPACK_PACKAGE_VERSION "1.0.0")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velora data collector for the monitoring agent, and its Prometheus exporter")
set(CPACK_PACKAGE_CONTACT "qvdclient maintainers")
set(CPACK_GENERATOR "TGZ;DEB")
# The tar file unpacks into the install home: <arch>/vd/... at its top.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_FILE_NAME "qvdclient-${CPACK_PACKAGE_VERSION}-${QVD_BINARCH}")
# The Debian package installs into the usual agent home (the tar file has
# no prefix; see QvdCPackOptions.cmake).  The server's library is not a
# Debian package, so no dependency names it.
set(QVD_DEB_PREFIX "/opt/halcyon" CACHE STRING "Agent install home the Debian package installs into")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/QvdCPackOptions.cmake)
file(WRITE ${CMAKE_BINARY_DIR}/QvdCPackOptions.cmake
  "if(CPACK_GENERATOR STREQUAL \"DEB\")\n  set(CPACK_PACKAGING_INSTALL_PREFIX \"${QVD_DEB_PREFIX}\")\nendif()\n")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
# qvdexporter links the Prometheus client library and its HTTP server.
find_package(prometheus-cpp CONFIG QUIET)
if(prometheus-cpp_FOUND)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libprometheus-cpp-core1.0, libprometheus-cpp-pull1.0, libcivetweb1")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
