# Includes run one way: each row compiles one include with the header view of its library,
# where a header further up the layers must not be found.
#   library  header it must not see
set(RIVULET_WRONG_WAY_INCLUDES
  "base store/Directory.h"
  "store watch/DirectoryDiffer.h"
  "watch library/ITunesManager.h"
  "library ui/StatusItem.h"
  "settings hotkeys/Hotkey.h"
  "hotkeys app/Rivulet_AppDelegate.h"
  "ui app/Interface.h")
foreach(row ${RIVULET_WRONG_WAY_INCLUDES})
  separate_arguments(parts UNIX_COMMAND "${row}")
  list(GET parts 0 layer)
  list(GET parts 1 header)
  string(MAKE_C_IDENTIFIER "${layer}_${header}" id)
  add_test(NAME layers_${id}
    COMMAND sh -c "printf '#include \"%s\"\\n' \"$1\" | ${CMAKE_CXX_COMPILER} -fsyntax-only -x c++ -I\"$0\" - 2>&1"
            ${CMAKE_BINARY_DIR}/src/layers/${layer} ${header})
  string(REPLACE "." "\\." pattern "${header}: No such file")
  set_tests_properties(layers_${id} PROPERTIES PASS_REGULAR_EXPRESSION "${pattern}")
endforeach()
