// Ends what near_far_hidden.h began. No include guard: every use includes the pair again.
#ifdef _WIN32
#pragma pop_macro("FAR")
#pragma pop_macro("NEAR")
#endif
