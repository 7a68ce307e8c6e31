# Header-only libraries that the tool and the simulator use (never the client library). A
# cross build finds no package of them for its target, and takes the build machine's headers:
# only the library's own folder is linked into the build tree, never the machine's other headers.
function(vok_header_library target package header)
  find_package(${package} CONFIG QUIET)
  if(TARGET ${target})
    return()
  endif()
  find_path(${package}_HEADERS ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  string(REGEX REPLACE "/.*" "" folder ${header})
  set(headers ${PROJECT_BINARY_DIR}/header-libraries/${package})
  file(MAKE_DIRECTORY ${headers})
  file(CREATE_LINK ${${package}_HEADERS}/${folder} ${headers}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} INTERFACE ${headers})
endfunction()

vok_header_library(nlohmann_json::nlohmann_json nlohmann_json nlohmann/json.hpp)
