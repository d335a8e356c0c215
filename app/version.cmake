# SPDX-License-Identifier: MIT
# The version record, kept here once: the program, quillo-keys, the Windows
# resource, the desktop entry and the metainfo are all made from these. The
# top-level CMakeLists.txt includes it, so every folder sees them.
set(QUILLO_TITLE "Quillo-v2")
set(QUILLO_PRODUCT_NAME "Quillo")
set(QUILLO_VERSION_TEXT "2.00")
set(QUILLO_INTERNAL_NAME "Quillo-V2")
set(QUILLO_ORIGINAL_FILENAME "Quillo-V2.exe")
set(QUILLO_FILE_DESCRIPTION "This is a easy to use standared Calculator")
set(QUILLO_COMMENTS "Standared Calculator")
set(QUILLO_LEGAL_TRADEMARKS "Quillo-V2")
set(QUILLO_APP_ID "app.quillo.Quillo")
string(REPLACE "." "," QUILLO_VERSION_COMMAS "${PROJECT_VERSION}")
