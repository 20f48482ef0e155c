# The layering of the code, checked by ctest (cmake -P):
#  - no file of the subsystems includes the controller's own headers (MainController.h,
#    PumpWait.h, Startup.h) or anything of the desktop; they reach the program through small
#    interfaces instead, and the dialogs' widget helpers live in widgetkit/ below the desktop;
#  - no file anywhere includes the old places of what moved down: the work log (now worklog/)
#    and the widget helpers (now widgetkit/);
#  - the pure libraries reach no Qt library, directly or through the libraries they link.
# SOURCE_DIR: the source tree; QT_REACHED: "library:qt-library" pairs found at configure time.
function(find_includes dirs regex out)
  set(found "")
  foreach(dir ${dirs})
    file(GLOB_RECURSE files "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.cpp")
    foreach(f ${files})
      file(STRINGS "${f}" hits REGEX "${regex}")
      if(hits)
        string(APPEND found "\n  ${f}: ${hits}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(subsystems src/text src/worklog src/widgetkit src/config src/baselink src/relay
  src/hostlink src/menu src/admin)
find_includes("${subsystems}"
  "#include \"(app/(MainController|PumpWait|Startup)\\.h|desktop/)" upward)
find_includes("src;tests;tools;bench;fuzz;examples"
  "#include \"(app/WorkLog|desktop/(OperatorMessageBox|QtText))\\.h\"" moved)
set(faults "${upward}${moved}")
foreach(pair ${QT_REACHED})
  string(APPEND faults "\n  pure library ${pair}")
endforeach()
if(faults)
  message(FATAL_ERROR "layering broken:${faults}")
endif()
message(STATUS "layering holds")
