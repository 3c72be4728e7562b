# Derives the linker's export files from the one export list in exports/.
#   WKS_VERSION_SCRIPT  GNU ld version script: the listed names global, all else local
#   WKS_DEF_FILE        Windows module-definition file, variables marked DATA
include(${CMAKE_CURRENT_LIST_DIR}/export_list.cmake)

function(wks_generate_export_files list_file out_dir)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  wks_read_export_list(${list_file} names data)
  set(map "{\n  global:\n")
  set(def "LIBRARY wks\nEXPORTS\n")
  foreach(name IN LISTS names)
    string(APPEND map "    ${name};\n")
    if(name IN_LIST data)
      string(APPEND def "    ${name} DATA\n")
    else()
      string(APPEND def "    ${name}\n")
    endif()
  endforeach()
  string(APPEND map "  local:\n    *;\n};\n")
  file(WRITE ${out_dir}/wks.map "${map}")
  file(WRITE ${out_dir}/wks.def "${def}")
  set(WKS_VERSION_SCRIPT ${out_dir}/wks.map PARENT_SCOPE)
  set(WKS_DEF_FILE ${out_dir}/wks.def PARENT_SCOPE)
endfunction()
