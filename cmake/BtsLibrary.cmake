# bts_shared_library(target PREFIX)
# A shared library with a SONAME and version, hidden visibility, and an export
# macro PREFIX_API (see Kiv/Export.h) marking what it exports. It needs C++17
# of its users too, and is known to them as BridgingTestSupport::target, the
# name that the installed CMake package gives it.
function(bts_shared_library target prefix)
  add_library(${target} SHARED)
  add_library(BridgingTestSupport::${target} ALIAS ${target})
  target_compile_features(${target} PUBLIC cxx_std_17)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  set_property(GLOBAL APPEND PROPERTY BTS_LIBRARIES ${target})
endfunction()
