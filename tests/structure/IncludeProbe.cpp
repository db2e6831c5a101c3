// Compiled with one layer's include paths: it builds exactly when that layer
// may include ORVEX_PROBE_HEADER.
#include ORVEX_PROBE_HEADER
