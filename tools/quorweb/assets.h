// Web assets compiled into the gateway (generated from assets/ and vendor/).
#pragma once
extern const char kAppJs[];
extern const char kStyleCss[];
extern const char kUplotJs[];  // the charting library, minified
extern const char kUplotCss[];
extern const char kUplotLicense[];
