# The project's version in the forms Windows resources want, and the
# licence's copyright line: for the version resource and manifest of
# torvane.exe (app/shell/win32) and for the installer (packaging/).
#   torvane_version_4       1.14.0.0
#   torvane_version_commas  1,14,0,0
#   torvane_copyright_line  Copyright (c) 2026 the Torvane developers
set(torvane_version_parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} 0 0)
if(NOT "${PROJECT_VERSION_PATCH}" STREQUAL "")
    list(REMOVE_AT torvane_version_parts 2)
    list(INSERT torvane_version_parts 2 ${PROJECT_VERSION_PATCH})
endif()
list(JOIN torvane_version_parts "." torvane_version_4)
list(JOIN torvane_version_parts "," torvane_version_commas)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE torvane_copyright_line REGEX "^Copyright" LIMIT_COUNT 1)
