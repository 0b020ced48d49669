# Writes the web assets into a C++ source as raw string literals.
# -DOUT=file -DSRC=dir
file(READ "${SRC}/app.js" APP_JS)
file(READ "${SRC}/style.css" STYLE_CSS)
file(WRITE "${OUT}" "// Generated from tools/quorweb/assets.\n#include \"tools/quorweb/assets.h\"\n"
  "extern const char kAppJs[] = R\"QWEBASSET(${APP_JS})QWEBASSET\";\n"
  "extern const char kStyleCss[] = R\"QWEBASSET(${STYLE_CSS})QWEBASSET\";\n")
