# A throw-away minisign key pair for the demo school, made once per build
# folder: TAVI_DEMO_UPDATE_KEY (public) goes into the stage and, unless
# TAVI_UPDATE_KEY names a school's key, into the package;
# TAVI_DEMO_UPDATE_SECRET signs the demo school's update list. Both empty
# without minisign.
set(TAVI_DEMO_UPDATE_KEY "")
set(TAVI_DEMO_UPDATE_SECRET "")
find_program(TAVI_MINISIGN minisign)
if(NOT TAVI_MINISIGN)
  message(WARNING "minisign not found: the demo school's update list is not signed")
  return()
endif()
set(key_dir ${CMAKE_BINARY_DIR}/demo-update-key)
if(NOT EXISTS ${key_dir}/update.key OR NOT EXISTS ${key_dir}/update.pub)
  file(MAKE_DIRECTORY ${key_dir})
  # -W: no password, the key only ever signs the demo's list.
  execute_process(COMMAND ${TAVI_MINISIGN} -G -f -W -p update.pub -s update.key
    WORKING_DIRECTORY ${key_dir} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(WARNING "minisign -G failed (${error}): the demo school's update list is not signed")
    return()
  endif()
endif()
set(TAVI_DEMO_UPDATE_KEY ${key_dir}/update.pub)
set(TAVI_DEMO_UPDATE_SECRET ${key_dir}/update.key)
