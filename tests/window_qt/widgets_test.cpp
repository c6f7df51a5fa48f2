// The real widgets, clicked through on the offscreen platform, reach the plug-in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <array>
#include <set>

#include "devices/device_model.h"
#include "engine_rig.h"
#include "platform/virtual/recording_file_picker.h"
#include "support/settings.h"
#include "window/qt/qt_config_view.h"
#include "window/window_slot.h"

namespace varnel {
namespace {

struct Widgets : ::testing::Test {
    test::EngineRig rig;
    RecordingFilePicker picker;
    QtConfigView* view = nullptr;
    std::unique_ptr<ConfigWindowSlot> slot;

    Widgets() {
        slot = std::make_unique<ConfigWindowSlot>(rig.ctx(), picker, [this] {
            auto v = std::make_unique<QtConfigView>();
            view = v.get();
            return v;
        });
        rig.startAll();
        rig.run(1000);
    }
    template <class W = QAbstractButton>
    W* find(const char* name) {
        auto* w = view->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(Widgets, ticking_a_variable_and_a_point_then_update_creates_their_devices) {
    std::array<bool, 16> first{};
    first[0] = true;
    CreateModuleDevices(rig.ctx(), 1, first, false);  // gives the SECU16 at unit 1 its row
    ReadDeviceSettings(rig.ctx());
    rig.plugin->ConfigIO();
    ASSERT_NE(view, nullptr);
    find("Check1_5")->click();
    find("IOPoint_3")->click();
    rig.prompts.answer = true;
    find("OKButton")->click();
    ASSERT_EQ(rig.prompts.questions.size(), 1u);
    EXPECT_FALSE(view->isVisible() || rig.ctx().window.open);
    std::set<std::string> made;
    for (const auto& d : rig.host->devices()) made.insert(d.name + " at " + d.location);
    EXPECT_TRUE(made.contains("Variable 5 at Ocelot") && made.contains("Input 4 at Secu16 Unit 1"));
}

// Clicks held while the line is busy are the window model's (WindowClicks); the close
// box goes through the same gate and unloads like Cancel.
TEST_F(Widgets, the_close_box_is_cancel_and_waits_for_an_exchange_to_end) {
    rig.plugin->SelectMenu("Setup");
    rig.ctx().gate.exchangeDepth = 1;  // as while a command waits for its reply
    find("Check1_9")->click();
    view->close();
    EXPECT_TRUE(view->isVisible());
    rig.ctx().gate.exchangeDepth = 0;
    rig.prompts.answer = false;
    rig.run(100);
    EXPECT_FALSE(view->isVisible() || rig.ctx().window.open);
    EXPECT_EQ(rig.prompts.questions.size(), 1u);
    EXPECT_EQ(rig.ctx().devices.varsHouseCode, 0);
    rig.plugin->SelectMenu("Setup");
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(find("Check1_9")->isChecked());
}

TEST_F(Widgets, enter_is_update_escape_is_cancel_and_no_text_names_another_host) {
    for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {
        rig.plugin->SelectMenu("Setup");
        find<QLineEdit>("TxtPoll")->setText(key == Qt::Key_Return ? "800" : "900");
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(find<QLineEdit>("TxtPoll"), &press);
        EXPECT_FALSE(view->isVisible()) << key;
        EXPECT_EQ(ReadSetting(rig.ctx(), "poll_interval", "absent"), "800");  // Esc stores nothing
    }
    for (auto* w : view->findChildren<QWidget*>()) {
        QString texts = w->toolTip();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) texts += b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) texts += l->text();
        if (auto* g = qobject_cast<QGroupBox*>(w)) texts += g->title();
        EXPECT_FALSE(texts.contains("homeseer", Qt::CaseInsensitive)) << w->objectName().toStdString();
    }
}

}  // namespace
}  // namespace varnel
