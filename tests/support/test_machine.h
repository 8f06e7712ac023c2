// A fresh simulated machine for one test: its own host folder, the
// installer's compiled resources loaded, Windows NT, code page 1252.
#ifndef WF_TESTS_TEST_MACHINE_H
#define WF_TESTS_TEST_MACHINE_H

#include <gtest/gtest.h>

#include <string>

#include "winsim.h"

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The host folder behind drive C:.
    const std::string &Root() const { return root_; }

private:
    std::string root_;
};

#endif
