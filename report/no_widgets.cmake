# cmake -DPROGRAM=FILE -P no_widgets.cmake: fails when FILE needs Qt's widgets,
# so the report stays drawable without a window (by the command-line tool).
execute_process(COMMAND readelf --dynamic --wide ${PROGRAM}
                OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read the libraries ${PROGRAM} needs")
endif()
string(REGEX MATCHALL "NEEDED[^\n]*Qt6Widgets[^\n]*" widgets "${dynamic}")
if(widgets)
  message(FATAL_ERROR "${PROGRAM} must not link Qt Widgets:\n${widgets}")
endif()
