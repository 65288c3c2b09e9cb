# torvi_header_check: compiles every header under src/ on its own, in a translation unit that
# includes nothing else, so that no header leans on what its includer happened to include first.
# Not part of the default build; the test command builds it.
function(torvi_add_header_check)
    file(GLOB_RECURSE headers RELATIVE ${PROJECT_SOURCE_DIR}/src CONFIGURE_DEPENDS
         ${PROJECT_SOURCE_DIR}/src/*.h)
    set(sources)
    foreach(header ${headers})
        string(MAKE_C_IDENTIFIER "${header}" stem)
        set(tu ${CMAKE_BINARY_DIR}/header_check/${stem}.cpp)
        file(CONFIGURE OUTPUT ${tu} CONTENT "#include \"${header}\"\n")
        list(APPEND sources ${tu})
    endforeach()
    add_library(torvi_header_check OBJECT EXCLUDE_FROM_ALL ${sources})
    set_target_properties(torvi_header_check PROPERTIES AUTOMOC OFF)
    # Every library target of the project, for their include paths and Qt modules.
    set(libs)
    foreach(lib ${ARGN})
        if(TARGET ${lib})
            list(APPEND libs ${lib})
        endif()
    endforeach()
    target_link_libraries(torvi_header_check PRIVATE ${libs} torvi_build_options)
endfunction()
