# Runs icon_gen twice into fresh folders; each run must reproduce the committed
# assets byte for byte.
#   cmake -DICON_GEN=<icon_gen> -DASSETS_DIR=<assets> -DWORK_DIR=<scratch> -P icon_gen_reproducible.cmake
foreach(run 1 2)
  set(dir "${WORK_DIR}/run${run}")
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  execute_process(COMMAND "${ICON_GEN}" "${dir}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "icon_gen failed (${status})")
  endif()
  foreach(name icon-256.png brand.ico)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${dir}/${name}" "${ASSETS_DIR}/${name}"
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
      message(FATAL_ERROR "run ${run}: ${name} differs from assets/${name}; "
                          "build the icon-assets target and commit the result")
    endif()
  endforeach()
endforeach()
