#pragma once
// Every allocation of the program that links counting_new.cpp, whatever form of new made it,
// and whatever made it (a shared library included), counted. A program of its own: it replaces
// the global operator new and delete.
#include <atomic>

inline std::atomic<long> g_allocations{0};
