#include <gtest/gtest.h>

#include "reliability/harness.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    telwick::reliability::InstallResultsListener();
    return RUN_ALL_TESTS();
}
