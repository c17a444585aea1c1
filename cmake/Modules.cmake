# velmora_module(folder [lower folders...]): the static library velmora_<folder> (a '/' in the
# folder becomes '_': src/places/ui -> velmora_places_ui) from the sources under src/<folder>,
# with src/ as its include root. The ui/ subfolder of a folder is a library of its own (the
# module's windows), so it is left out of the folder's library. A folder without sources yet
# becomes an interface library so that the folders above it can already name it.
function(velmora_target_name folder out_var)
  string(REPLACE "/" "_" name "${folder}")
  set(${out_var} velmora_${name} PARENT_SCOPE)
endfunction()

function(velmora_module folder)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "^${PROJECT_SOURCE_DIR}/src/${folder}/ui/")
  velmora_target_name(${folder} target)
  string(REPLACE "/" "_" libs_key "${folder}")
  set(deps)
  foreach(lower IN LISTS ARGN)
    velmora_target_name(${lower} lower_target)
    list(APPEND deps ${lower_target})
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${deps} ${VELMORA_LIBS_${libs_key}})
    target_compile_definitions(${target} PUBLIC
      VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VELMORA_BUILD_DIR="${PROJECT_BINARY_DIR}"
      VELMORA_VERSION="${PROJECT_VERSION}")
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${deps} ${VELMORA_LIBS_${libs_key}})
    target_compile_definitions(${target} INTERFACE
      VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VELMORA_BUILD_DIR="${PROJECT_BINARY_DIR}"
      VELMORA_VERSION="${PROJECT_VERSION}")
  endif()
endfunction()
