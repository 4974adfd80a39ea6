// The main of a test program that CTest runs as one test (murrelo_add_test). CTest learns of a
// skip only from the exit status: a program that skipped a test and failed none exits with
// kSkippedStatus, its SKIP_RETURN_CODE, so the run counts as skipped rather than passed; its
// output lists what was skipped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// The status by which every test program and script here says "skipped" (Automake's convention).
constexpr int kSkippedStatus = 77;

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (status != 0) return status;
    return ::testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? kSkippedStatus : 0;
}
