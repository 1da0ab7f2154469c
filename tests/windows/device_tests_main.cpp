// The main of the suites under Wine: the capture suite, and the Linux device suites against the
// registered cameras, less the tests that cannot run there (ZRF_LINUX_ONLY, with the reasons in
// tests/windows/CMakeLists.txt).
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>

namespace {

// A crash ends the suite with a line and an exit code, instead of starting Wine's debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "wine suite: exception 0x%08lX at %p\n",
                 info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(&ReportCrash);
    // As the application's runtime has COM ready on its threads.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#ifdef ZRF_LINUX_ONLY
    GTEST_FLAG_SET(filter, "-" ZRF_LINUX_ONLY);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
