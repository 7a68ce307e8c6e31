# CPack runs this after it has installed the files of the Windows zip into its staging folder
# and before it packs them: the programs and DLLs are signed there (packaging/windows/sign, with
# the key that the environment names), never in the build tree.
file(GLOB staged_programs ${CPACK_TEMPORARY_DIRECTORY}/bin/*.exe ${CPACK_TEMPORARY_DIRECTORY}/bin/*.dll)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/sign ${staged_programs} COMMAND_ERROR_IS_FATAL ANY)
