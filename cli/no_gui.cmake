# cmake -DPROGRAM=FILE -P no_gui.cmake: fails when FILE needs Qt's widgets or
# GUI library, so a program meant for terminals and servers never grows one.
execute_process(COMMAND readelf --dynamic --wide ${PROGRAM}
                OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read the libraries ${PROGRAM} needs")
endif()
string(REGEX MATCHALL "NEEDED[^\n]*Qt6(Widgets|Gui)[^\n]*" gui "${dynamic}")
if(gui)
  message(FATAL_ERROR "${PROGRAM} must not link Qt Widgets or Gui:\n${gui}")
endif()
string(REGEX MATCH "NEEDED[^\n]*Qt6Core" core "${dynamic}")
if(NOT core)
  message(FATAL_ERROR "${PROGRAM}: no Qt Core among its libraries; is it the program?")
endif()
