// The jet tests' main: like the agent's, it can be its own reader process, so the tests read
// through reader processes spawned as the agent's are.
#include "IsolationCases.h"
#include "store/jet/MdbTableDump.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    using namespace zurodid;
    static constexpr jet::NamedWork kWorks[] = {jet::kDiaryReaderWork,
                                                {"cases", &jettest::CaseWork}};
    jet::ServeReadsIfAsked(argc, argv, kWorks);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
