// One QApplication for every test of a ui test program.

#include <memory>

#include <gtest/gtest.h>
#include <QApplication>

namespace {

class qt_application : public ::testing::Environment {
public:
    void SetUp() override
    {
        // Also without a display when the program is run by hand.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[8] = "ui_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const registered = ::testing::AddGlobalTestEnvironment(new qt_application);

}  // namespace
