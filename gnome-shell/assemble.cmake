# Runs at build time (cmake -P): writes OUTPUT from HEAD, BODY and TAIL in that order, with
# @PROJECT_VERSION@ replaced by VERSION.
set(PROJECT_VERSION "${VERSION}")
set(text "")
foreach(part IN ITEMS "${HEAD}" "${BODY}" "${TAIL}")
    file(READ "${part}" content)
    string(APPEND text "${content}")
endforeach()
string(CONFIGURE "${text}" text @ONLY)
file(WRITE "${OUTPUT}.tmp" "${text}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
