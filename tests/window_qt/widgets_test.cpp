// The real widgets, clicked through on the offscreen platform, reach the plug-in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include "devices/device_model.h"
#include "engine_rig.h"
#include "platform/virtual/recording_file_picker.h"
#include "window/qt/qt_config_view.h"
#include "window/qt/qt_dialogs.h"
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
    template <class W = QWidget>
    W* find(const char* name) {
        auto* w = view->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    const host::DeviceRecord* device(const std::string& name, const std::string& location) {
        for (const auto& d : rig.host->devices())
            if (d.name == name && d.location == location) return &d;
        return nullptr;
    }
};

TEST_F(Widgets, window_has_its_tabs_and_named_controls) {
    rig.plugin->SelectMenu("Setup");
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), "Configure Interface");
    const QStringList tabs{"General /Variables", "I/O Devices", "Infra Red Remap", "CMAX"};
    ASSERT_EQ(view->tabs()->count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(view->tabs()->tabText(i), tabs[i]);
    for (const char* name :
         {"TxtComPort", "TxtPoll", "Check1_0", "Check1_127", "IOPoint_0", "IOPoint_255", "aInvert_15", "aIOHouse_15",
          "aIOUnit_47", "aIRLabel_35", "aRemap_35", "aIRDevice", "aSynchronize", "aSyncMaster_1", "aCMAXexe",
          "Disconnect", "OKButton", "CancelButton", "lblver"})
        find(name);
    EXPECT_EQ(view->findChildren<QCheckBox*>(QRegularExpression("^Check1_")).size(), 128);
    EXPECT_EQ(find<QLineEdit>("TxtPoll")->text(), "500");
    EXPECT_EQ(find<QAbstractButton>("Disconnect")->text(), "Disconnect from Ocelot");
    EXPECT_TRUE(find<QAbstractButton>("PortOpen")->isChecked());
}

TEST_F(Widgets, ticking_a_variable_and_a_point_then_update_creates_their_devices) {
    std::array<bool, 16> first{};
    first[0] = true;
    CreateModuleDevices(rig.ctx(), 1, first, false);  // gives the SECU16 at unit 1 its row
    ReadDeviceSettings(rig.ctx());
    rig.plugin->ConfigIO();
    ASSERT_NE(view, nullptr);
    find<QAbstractButton>("Check1_5")->click();
    find<QAbstractButton>("IOPoint_3")->click();
    rig.prompts.answer = true;
    find<QAbstractButton>("OKButton")->click();
    ASSERT_EQ(rig.prompts.questions.size(), 1u);
    EXPECT_FALSE(view->isVisible());
    EXPECT_NE(device("Variable 5", "Ocelot"), nullptr);
    EXPECT_NE(device("Input 4", "Secu16 Unit 1"), nullptr);
    EXPECT_FALSE(rig.ctx().window.open);
}

TEST_F(Widgets, close_box_unloads_like_cancel_and_the_window_opens_again) {
    rig.plugin->SelectMenu("Setup");
    find<QAbstractButton>("Check1_9")->click();
    rig.prompts.answer = false;
    view->close();
    EXPECT_EQ(rig.prompts.questions.size(), 1u);
    EXPECT_FALSE(rig.ctx().window.open);
    EXPECT_EQ(rig.ctx().devices.varsHouseCode, 0);
    rig.plugin->SelectMenu("Setup");
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(find<QAbstractButton>("Check1_9")->isChecked());
}

TEST_F(Widgets, port_lamp_follows_the_link) {
    rig.plugin->SelectMenu("Setup");
    find<QAbstractButton>("Disconnect")->click();
    rig.run(400);
    EXPECT_FALSE(find<QAbstractButton>("PortOpen")->isChecked());
    EXPECT_EQ(find<QAbstractButton>("Disconnect")->text(), "Reconnect to Ocelot");
    find<QAbstractButton>("Disconnect")->click();
    EXPECT_TRUE(find<QAbstractButton>("PortOpen")->isChecked());
}

TEST_F(Widgets, a_click_during_an_exchange_runs_once_it_is_through) {
    rig.plugin->SelectMenu("Setup");
    auto* window = slot->window();
    rig.ctx().gate.exchangeDepth = 1;  // as while a command waits for its reply
    find<QAbstractButton>("Check1_5")->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->variablesChanged());
    rig.ctx().gate.exchangeDepth = 0;
    QElapsedTimer waited;
    waited.start();
    while (!window->variablesChanged() && waited.elapsed() < 2000) QCoreApplication::processEvents();
    EXPECT_TRUE(window->variablesChanged());
}

TEST(QtFilters, each_picker_also_offers_all_files) {
    const std::pair<const char*, const char*> cases[] = {
        {"Project (*.prj)|*.prj", "Project (*.prj);;All files (*)"},
        {"cpuxa.exe|cpuxa.exe", "cpuxa.exe (cpuxa.exe);;All files (*)"},
        {"", " (*);;All files (*)"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(qtNameFilters(in), out) << in;
}

}  // namespace
}  // namespace varnel
