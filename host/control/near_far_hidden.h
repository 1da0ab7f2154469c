// Included before code that names the focus modes NEAR and FAR: the platform's headers define
// both as (empty) macros, so they are set aside until near_far_restored.h brings them back.
// Include it after the platform's headers; no include guard: every use includes the pair again.
#ifdef _WIN32
#pragma push_macro("NEAR")
#pragma push_macro("FAR")
#undef NEAR
#undef FAR
#endif
