# Copies the files of three.js that the studio page imports, when three.js is installed.
foreach(f build/three.module.js build/three.core.js examples/jsm/controls/OrbitControls.js LICENSE)
  if(EXISTS ${THREE_DIR}/${f})
    get_filename_component(dir ${OUT}/${f} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(COPY_FILE ${THREE_DIR}/${f} ${OUT}/${f} ONLY_IF_DIFFERENT)
  endif()
endforeach()
