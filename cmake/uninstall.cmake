# Removes what the installs from this build folder put in place, as their manifests list it:
#   cmake --build build --target uninstall
# or, for the manifests named alone: cmake -DMANIFESTS=A;B -P uninstall.cmake
if(DEFINED MANIFESTS)
  set(manifests ${MANIFESTS})
else()
  file(GLOB manifests "${CMAKE_BINARY_DIR}/install_manifest*.txt")
endif()
if(NOT manifests)
  message(FATAL_ERROR "nothing to uninstall: no install from ${CMAKE_BINARY_DIR} is recorded")
endif()
# The folders an install makes for this project alone, or for completion, which no system has
# until something installs into them: each goes once it is empty, then its parent the same way.
# Folders every prefix has (bin, share/man/man1, ...) stay.
set(own_folders "/libexec/fennoKit$" "/share/bash-completion/completions$" "/share/bash-completion$"
    "/share/zsh/(vendor-completions|site-functions)$" "/share/zsh$"
    "/share/fish/vendor_completions.d$" "/share/fish$")
set(folders)
foreach(manifest IN LISTS manifests)
  file(STRINGS "${manifest}" files)
  foreach(path IN LISTS files)
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      message(STATUS "Removing ${path}")
      file(REMOVE "${path}")
    endif()
    get_filename_component(folder "${path}" DIRECTORY)
    list(APPEND folders "${folder}")
  endforeach()
  file(REMOVE "${manifest}")
endforeach()
list(REMOVE_DUPLICATES folders)
while(folders)
  list(POP_FRONT folders folder)
  foreach(own IN LISTS own_folders)
    if(folder MATCHES "${own}" AND IS_DIRECTORY "${folder}")
      file(GLOB left "${folder}/*" "${folder}/.*")
      if(NOT left)
        message(STATUS "Removing ${folder}/")
        file(REMOVE_RECURSE "${folder}")  # empty, as just seen
        get_filename_component(parent "${folder}" DIRECTORY)
        list(APPEND folders "${parent}")
      endif()
    endif()
  endforeach()
endwhile()
