# Layers. Every library and executable of src/ is made through these functions, which
# record which layer each of its files belongs to. The layer test (tests/layers) reads that
# record and fails on an include that points from a lower layer to a higher one, and each
# library exposes only its own headers, so a higher layer's header is not even found.
#
# Layers, bottom to top; targets of one rank never include each other:
#   0 platform                      10 stores
#   20 server, db                   30 workspace, update (logic)
#   40 theme                        41 ui (house-style widgets)
#   50 server, db and update widgets
#   60 workspace widgets            70 window                80 app (the shell)
#   90 the executable

define_property(GLOBAL PROPERTY MIRELO_LAYER_RECORD
    BRIEF_DOCS "target|rank|file lines for the layer test"
    FULL_DOCS "One entry per source file of a layered target.")

# Records a target's files (paths relative to src/) and rank for the layer test.
function(mirelo_record_layer target rank)
    file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}/src" "${CMAKE_CURRENT_SOURCE_DIR}")
    foreach(source IN LISTS ARGN)
        set_property(GLOBAL APPEND PROPERTY MIRELO_LAYER_RECORD "${target}|${rank}|${folder}/${source}")
    endforeach()
endfunction()

# mirelo_add_library(NAME target RANK n SOURCES files... [PUBLIC libs...] [PRIVATE libs...])
# A static library whose headers are reachable as "<folder>/<Header>.h" by itself and by
# whatever links it, and by nothing else.
function(mirelo_add_library)
    cmake_parse_arguments(L "" "NAME;RANK" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
    add_library(${L_NAME} STATIC ${L_SOURCES})
    target_link_libraries(${L_NAME} PUBLIC mirelo_common ${L_PUBLIC} PRIVATE ${L_PRIVATE})

    get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
    set(include_root "${CMAKE_BINARY_DIR}/include/${L_NAME}")
    file(REMOVE_RECURSE "${include_root}")
    file(MAKE_DIRECTORY "${include_root}/${folder}")
    foreach(source IN LISTS L_SOURCES)
        if(source MATCHES "\\.h$")
            file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}/${source}" "${include_root}/${folder}/${source}" SYMBOLIC)
        endif()
    endforeach()
    target_include_directories(${L_NAME} PUBLIC "${include_root}")
    mirelo_record_layer(${L_NAME} ${L_RANK} ${L_SOURCES})
endfunction()

# Writes the record for the layer test; called once, after every target is defined.
function(mirelo_write_layer_record path)
    get_property(record GLOBAL PROPERTY MIRELO_LAYER_RECORD)
    list(JOIN record "\n" text)
    file(WRITE "${path}.new" "${text}\n")
    file(COPY_FILE "${path}.new" "${path}" ONLY_IF_DIFFERENT)
    file(REMOVE "${path}.new")
endfunction()
