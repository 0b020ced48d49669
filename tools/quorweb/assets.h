// Web assets compiled into the gateway (generated from assets/).
#pragma once
extern const char kAppJs[];
extern const char kStyleCss[];
