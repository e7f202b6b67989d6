# One static library per layer, and a layer sees only the headers of the
# layers it declares. Each layer's headers are linked into a tree of their
# own in the build folder, and that tree is the only include folder the layer
# hands on; the source tree itself is on no include path. So an include of a
# layer that was not declared fails to compile.
#
#   orbilatch_layer(<target> <folder>
#                   [USES <layer>...]          layers its sources include
#                   [EXPOSES <layer>...]       layers its own headers include
#                   [LINKS <library>...]       libraries it needs
#                   [EXCLUDE <file>...])       sources of the folder that are not part of it
function(orbilatch_layer target folder)
  cmake_parse_arguments(LAYER "" "" "USES;EXPOSES;LINKS;EXCLUDE" ${ARGN})
  set(source_dir ${PROJECT_SOURCE_DIR}/${folder})
  file(GLOB sources CONFIGURE_DEPENDS ${source_dir}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${source_dir}/*.h)
  foreach(excluded ${LAYER_EXCLUDE})
    list(REMOVE_ITEM sources ${source_dir}/${excluded})
  endforeach()

  set(tree ${PROJECT_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${tree}/${folder})
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${tree}/${folder}/${name} SYMBOLIC)
  endforeach()

  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${tree})
    target_link_libraries(${target} PUBLIC ${LAYER_EXPOSES} ${LAYER_LINKS} PRIVATE ${LAYER_USES})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${tree})
    target_link_libraries(${target} INTERFACE ${LAYER_EXPOSES} ${LAYER_LINKS})
  endif()
endfunction()
