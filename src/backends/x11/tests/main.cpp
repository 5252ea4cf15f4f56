#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Whatever display the machine has is never the one a test uses.
    unsetenv("DISPLAY");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
