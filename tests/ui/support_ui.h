#pragma once
// The windows over a state after start-up whose links and timers do nothing;
// quitting only counts.

#include <memory>

#include <gtest/gtest.h>
#include <QWidget>

#include "scenario/support_fakes.h"
#include "ui/shell.h"

namespace fernwick::test {

inline core::window_state& state_of(core::app_state& s, core::window_id id)
{
    using W = core::window_id;
    switch (id) {
    case W::mainform: return s.mainform;
    case W::Warning: return s.Warning;
    case W::ConfirmForm: return s.ConfirmForm;
    case W::statusform: return s.statusform;
    case W::LocationForm: return s.LocationForm;
    case W::RESETFORM: return s.RESETFORM;
    default: return s.AboutForm;
    }
}

class ui_test : public ::testing::Test {
protected:
    ui_test() : s(make_fake_state()), windows(std::make_unique<ui::shell>(*s))
    {
        s->quit = [this] { ++quits; };
        windows->sync();
    }

    QWidget* window(core::window_id id) const { return windows->window(id); }

    // The control `name` of window `id`; fails the test when it is missing.
    template <class T = QWidget>
    T* control(core::window_id id, const char* name) const
    {
        T* found = window(id)->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    std::unique_ptr<core::app_state> s;
    std::unique_ptr<ui::shell> windows;
    int quits = 0;
};

}  // namespace fernwick::test
