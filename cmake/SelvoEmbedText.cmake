# Compiles a text file into the program: a .cpp that defines
#   std::string_view NAMESPACE::FUNCTION()
# (declared in HEADER) answering the file's bytes. The .cpp is made again
# whenever the file changes.
#
#   selvo_embed_text(TARGET t SOURCE file HEADER path/Header.h NAMESPACE ns FUNCTION Name)
function(selvo_embed_text)
  cmake_parse_arguments(ARG "" "TARGET;SOURCE;HEADER;NAMESPACE;FUNCTION" "" ${ARGN})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${ARG_FUNCTION}.embedded.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${ARG_SOURCE} -DOUTPUT=${output} -DHEADER=${ARG_HEADER}
            -DNAMESPACE=${ARG_NAMESPACE} -DFUNCTION=${ARG_FUNCTION} -P ${CMAKE_SOURCE_DIR}/cmake/EmbedTextFile.cmake
    DEPENDS ${ARG_SOURCE} ${CMAKE_SOURCE_DIR}/cmake/EmbedTextFile.cmake
    COMMENT "Embedding ${ARG_SOURCE}"
    VERBATIM)
  target_sources(${ARG_TARGET} PRIVATE ${output})
endfunction()
