/* A small library for the dynamic-library tests: one exported function with
 * a known result, and nothing else. */

int quernDllProbeAnswer(void) { return 42; }
