# The layering of the code, checked by ctest (cmake -P):
#  - no file of the subsystems includes the controller's own headers (MainController.h,
#    PumpWait.h, Startup.h); they reach the program through small interfaces instead;
#  - the pure libraries reach no Qt library, directly or through the libraries they link.
# SOURCE_DIR: the source tree; QT_REACHED: "library:qt-library" pairs found at configure time.
set(subsystems text config baselink relay hostlink menu admin)
set(forbidden "#include \"app/(MainController|PumpWait|Startup)\\.h\"")
set(faults "")
foreach(dir ${subsystems})
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${dir}/*.h" "${SOURCE_DIR}/src/${dir}/*.cpp")
  foreach(f ${files})
    file(STRINGS "${f}" hits REGEX "${forbidden}")
    if(hits)
      string(APPEND faults "\n  ${f}: ${hits}")
    endif()
  endforeach()
endforeach()
foreach(pair ${QT_REACHED})
  string(APPEND faults "\n  pure library ${pair}")
endforeach()
if(faults)
  message(FATAL_ERROR "layering broken:${faults}")
endif()
message(STATUS "layering holds")
