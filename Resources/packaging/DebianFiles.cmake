# Run by CPack on the staged files before it packs them: what Debian expects of a package and a
# plain installation does without. The manual pages are compressed, and the changelog is put
# beside the copyright file, compressed.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*.1")
list(FILTER pages INCLUDE REGEX "/share/man/man1/[^/]+\\.1$")
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(GLOB_RECURSE copyright "${CPACK_TEMPORARY_DIRECTORY}/copyright")
list(FILTER copyright INCLUDE REGEX "/share/doc/kelvorandix/copyright$")
if(NOT copyright)
    message(FATAL_ERROR "No copyright file among the staged files")
endif()
get_filename_component(docs "${copyright}" DIRECTORY)
execute_process(COMMAND gzip -9nc "${CPACK_KELVORANDIX_CHANGELOG}"
    OUTPUT_FILE "${docs}/changelog.Debian.gz" COMMAND_ERROR_IS_FATAL ANY)
