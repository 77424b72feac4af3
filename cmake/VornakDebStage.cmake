# Run by CPack on the staged files of the Debian package, before it is packed: compresses the manual pages,
# adds /usr/share/doc/<package>/ with changelog.gz and copyright, and gives every file and folder the
# modes Debian expects (the build folder's umask must not leak into the package).
file(GLOB_RECURSE staged_readers LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/VornakReader2026")
list(LENGTH staged_readers count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the staged package holds ${count} readers: ${staged_readers}")
endif()
get_filename_component(usr "${staged_readers}" DIRECTORY)
get_filename_component(usr "${usr}" DIRECTORY)

# gzip -9n: the best compression and no name or time stamp inside, so the same input gives the same file.
function(vornak_gzip source target)
  execute_process(COMMAND gzip -9nc "${source}" OUTPUT_FILE "${target}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
endfunction()

file(GLOB pages "${usr}/share/man/man1/*.1")
foreach(page ${pages})
  vornak_gzip("${page}" "${page}.gz")
  file(REMOVE "${page}")
endforeach()

set(doc "${usr}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
vornak_gzip("${CPACK_VORNAK_DOC_SOURCE}/changelog" "${doc}/changelog.gz")
file(COPY "${CPACK_VORNAK_DOC_SOURCE}/copyright" DESTINATION "${doc}")

# The web server as a system service: the unit, its settings (a conffile), its system user, an nginx example.
get_filename_component(root "${usr}" DIRECTORY)
set(web "${CPACK_VORNAK_WEB_SOURCE}")
file(MAKE_DIRECTORY "${root}/lib/systemd/system" "${root}/etc/default" "${usr}/lib/sysusers.d" "${doc}/examples")
file(COPY "${web}/vornak-reader2026-web.service" DESTINATION "${root}/lib/systemd/system")
configure_file("${web}/vornak-reader2026-web.default" "${root}/etc/default/vornak-reader2026-web" COPYONLY)
configure_file("${web}/vornak-reader2026-web.sysusers" "${usr}/lib/sysusers.d/vornak-reader2026-web.conf" COPYONLY)
file(COPY "${web}/nginx-vornak-reader2026-web.conf" DESTINATION "${doc}/examples")

# CPack strips the debug information; the compiler's notes go too, as Debian's own packages do.
execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
                        "${usr}/bin/VornakReader2026" "${usr}/bin/vornak-tool" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "strip failed")
endif()

execute_process(COMMAND chmod -R u=rwX,go=rX "${usr}" "${root}/etc" "${root}/lib")
