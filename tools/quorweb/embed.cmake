# Writes the web assets into a C++ source as raw string literals.
# -DOUT=file -DSRC=assets dir -DVENDOR=vendored libraries dir
file(READ "${SRC}/app.js" APP_JS)
file(READ "${SRC}/style.css" STYLE_CSS)
file(READ "${VENDOR}/uplot/uPlot.iife.min.js" UPLOT_JS)
file(READ "${VENDOR}/uplot/uPlot.min.css" UPLOT_CSS)
file(READ "${VENDOR}/uplot/LICENSE" UPLOT_LICENSE)
file(WRITE "${OUT}" "// Generated from tools/quorweb/assets and tools/quorweb/vendor.\n#include \"tools/quorweb/assets.h\"\n"
  "extern const char kAppJs[] = R\"QWEBASSET(${APP_JS})QWEBASSET\";\n"
  "extern const char kStyleCss[] = R\"QWEBASSET(${STYLE_CSS})QWEBASSET\";\n"
  "extern const char kUplotJs[] = R\"QWEBASSET(${UPLOT_JS})QWEBASSET\";\n"
  "extern const char kUplotCss[] = R\"QWEBASSET(${UPLOT_CSS})QWEBASSET\";\n"
  "extern const char kUplotLicense[] = R\"QWEBASSET(${UPLOT_LICENSE})QWEBASSET\";\n")
