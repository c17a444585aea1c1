# velmora_module(folder [lower folders...]): the static library velmora_<folder> from
# src/<folder>/*.cpp, with src/ as its include root. A folder without sources yet becomes an
# interface library so that the folders above it can already name it.
function(velmora_module folder)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  set(target velmora_${folder})
  set(deps)
  foreach(lower IN LISTS ARGN)
    list(APPEND deps velmora_${lower})
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${deps} ${VELMORA_LIBS_${folder}})
    target_compile_definitions(${target} PUBLIC
      VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VELMORA_BUILD_DIR="${PROJECT_BINARY_DIR}")
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${deps} ${VELMORA_LIBS_${folder}})
    target_compile_definitions(${target} INTERFACE
      VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VELMORA_BUILD_DIR="${PROJECT_BINARY_DIR}")
  endif()
endfunction()
