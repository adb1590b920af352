# Run by CPack after it has installed into its staging folder and before it packs it: the package
# carries the modes found there, and folders that the installation made on its way (usr/,
# usr/share/...) take the umask of whoever builds. Every folder becomes 0755.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(entry "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" ${entries})
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
