# bts_shared_library(target PREFIX)
# A shared library with a SONAME and version, hidden visibility, and an export
# macro PREFIX_API (see Kiv/Export.h) marking what it exports.
function(bts_shared_library target prefix)
  add_library(${target} SHARED)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()
