# What `cmake --install` puts under the prefix, and the Debian package made
# from it (`cpack -G DEB`):
#
#   lib/                     the four libraries
#   include/BridgingTestSupport/{Kiv,Lumo,Pyrel,reflector,agent,attrlog}/
#                            their headers, so that users include
#                            "Kiv/Entity.h" and "reflector/TopoStateReflector.h"
#                            with one include folder
#   bin/                     every program under tools/
#   share/bridging-test-support/scenarios/   bridge-sim's example scenarios
#                            (installed by tools/bridge-sim)
#   lib/cmake/BridgingTestSupport/   the CMake package: imported targets
#                            BridgingTestSupport::{BridgingTestSupport,kiv,Lumo,Pyrel}
#   lib/pkgconfig/           one pkg-config file per library
#
# Headers are installed by folder and tools by target, so new ones are
# picked up without a change here.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BTS_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/BridgingTestSupport)
set(BTS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/BridgingTestSupport)
get_property(BTS_LIBRARIES GLOBAL PROPERTY BTS_LIBRARIES)

install(TARGETS ${BTS_LIBRARIES}
  EXPORT BridgingTestSupportTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${BTS_INCLUDE_DIR})

install(DIRECTORY
    runtime/Kiv runtime/Lumo runtime/Pyrel reflector agent attrlog
  DESTINATION ${BTS_INCLUDE_DIR}
  FILES_MATCHING PATTERN "*.h")

# Every program that a folder under tools/ defines.
if(BTS_BUILD_TOOLS)
  get_property(toolDirs DIRECTORY tools PROPERTY SUBDIRECTORIES)
  foreach(dir IN LISTS toolDirs)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "EXECUTABLE")
        set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
        install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
      endif()
    endforeach()
  endforeach()
endif()

install(EXPORT BridgingTestSupportTargets
  NAMESPACE BridgingTestSupport::
  DESTINATION ${BTS_CMAKE_DIR})
configure_package_config_file(cmake/BridgingTestSupportConfig.cmake.in
  ${PROJECT_BINARY_DIR}/BridgingTestSupportConfig.cmake
  INSTALL_DESTINATION ${BTS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/BridgingTestSupportConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/BridgingTestSupportConfig.cmake
    ${PROJECT_BINARY_DIR}/BridgingTestSupportConfigVersion.cmake
  DESTINATION ${BTS_CMAKE_DIR})

# pkg-config: BridgingTestSupport, and BridgingTestSupport-kiv, -Lumo and
# -Pyrel for the runtime alone. Each file finds the prefix from its own
# place, so an installed tree can be moved.
file(RELATIVE_PATH BTS_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" BTS_PC_PREFIX "${BTS_PC_PREFIX}")
foreach(lib IN LISTS BTS_LIBRARIES)
  set(BTS_PC_NAME BridgingTestSupport-${lib})
  if(lib STREQUAL "BridgingTestSupport")
    set(BTS_PC_NAME BridgingTestSupport)
  endif()
  set(BTS_PC_LIB ${lib})
  set(BTS_PC_REQUIRES "")
  get_target_property(deps ${lib} INTERFACE_LINK_LIBRARIES)
  foreach(dep IN LISTS deps)
    if(dep IN_LIST BTS_LIBRARIES)
      list(APPEND BTS_PC_REQUIRES "BridgingTestSupport-${dep} = ${PROJECT_VERSION}")
    endif()
  endforeach()
  list(JOIN BTS_PC_REQUIRES ", " BTS_PC_REQUIRES)
  configure_file(cmake/BridgingTestSupport.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${BTS_PC_NAME}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${BTS_PC_NAME}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# The Debian package of the installed tree; a project that builds this one
# as its subproject packages itself.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME bridging-test-support)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Bridging test support team")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "State reflector tree and test agent model for bridging test set-ups, with their runtime")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_GENERATOR DEB)
include(CPack)
