#include "support/EventPump.h"

#include <gmock/gmock.h>

int main(int argc, char** argv) {
    testsupport::EnsureCoreApplication();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
