// GoogleTest main for the library: Qt SQL and the change signals need a
// QCoreApplication and its event loop, not a display.
#include <QCoreApplication>
#include <clocale>
#include <gtest/gtest.h>

#include "LibraryTestSupport.h"

namespace {
class ServerEnvironment : public ::testing::Environment {
public:
    void TearDown() override { librarytest::stopOwnServer(); }
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ServerEnvironment);
    return RUN_ALL_TESTS();
}
