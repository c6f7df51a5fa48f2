// The real widgets, clicked through on the offscreen platform, reach the plug-in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QValidator>

#include "devices/device_model.h"
#include "engine_rig.h"
#include "platform/virtual/recording_file_picker.h"
#include "support/settings.h"
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
    // The port lamp follows the link.
    find<QAbstractButton>("Disconnect")->click();
    rig.run(400);
    EXPECT_FALSE(find<QAbstractButton>("PortOpen")->isChecked());
    EXPECT_EQ(find<QAbstractButton>("Disconnect")->text(), "Reconnect to Ocelot");
    find<QAbstractButton>("Disconnect")->click();
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

// Clicks held while the line is busy are the window model's (WindowClicks); the close
// box goes through the same gate.
TEST_F(Widgets, the_close_box_during_an_exchange_closes_once_it_is_through) {
    rig.plugin->SelectMenu("Setup");
    rig.ctx().gate.exchangeDepth = 1;  // as while a command waits for its reply
    find<QAbstractButton>("Check1_5")->click();
    view->close();
    EXPECT_TRUE(view->isVisible());
    rig.ctx().gate.exchangeDepth = 0;
    rig.prompts.answer = false;
    rig.run(100);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(rig.prompts.questions.size(), 1u);
}

TEST_F(Widgets, captions_and_tips_name_the_host) {
    rig.plugin->SelectMenu("Setup");
    const std::pair<const char*, const char*> captions[] = {
        {"showInMenu", "Show Setup Page on Host Title Bar"},
        {"aIRRecognitionForward", "Do Not Forward IR Recognition to Host"},
        {"aSyncMaster_0", "Host Master"},
        {"aSynchronize", "Synchronize HS/CMAX"},
        {"aRunAsXapNode", "Run as XAP node,  HS is User Interface"},
    };
    for (const auto& [name, caption] : captions) EXPECT_EQ(find<QAbstractButton>(name)->text(), caption) << name;
    EXPECT_EQ(find<QAbstractButton>("aSyncMaster_0")->toolTip(), "Select if Host Devices contain Master Definitions");
    EXPECT_EQ(find<QGroupBox>("Frame1_1")->title(), "Variables To/From Host Devices");
    EXPECT_EQ(find<QGroupBox>("Synchronize")->title(), "Synchronize System Map and Host Definitions");
    EXPECT_EQ(find<QLabel>("Label12_0")->text(), "Host IR Definition ");
    EXPECT_EQ(find<QLabel>("Label11")->text(),
              "Note that the host will not communicate with Ocelot while CMAX is running.  Communications will be "
              "restored when CMAX closes.");
    // The poll box's tip speaks of what its label speaks of.
    EXPECT_EQ(find<QLineEdit>("TxtPoll")->toolTip(),
              "Time between two reads of the controller's variables, 100 to 60000 milliseconds");
    for (auto* w : view->findChildren<QWidget*>()) {
        QString texts = w->toolTip();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) texts += b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) texts += l->text();
        if (auto* g = qobject_cast<QGroupBox*>(w)) texts += g->title();
        EXPECT_FALSE(texts.contains("homeseer", Qt::CaseInsensitive)) << w->objectName().toStdString();
    }
}

TEST_F(Widgets, the_window_fits_a_1024_by_768_screen) {
    rig.plugin->SelectMenu("Setup");
    const QSize least = view->minimumSizeHint().expandedTo(view->minimumSize());
    EXPECT_LE(least.width(), 1024);
    EXPECT_LE(least.height(), 700);
    // Opened, it is no bigger than the screen leaves room for.
    EXPECT_LE(view->sizeHint().width(), 1024);
    EXPECT_LE(view->sizeHint().height(), 700);
    view->resize(1000, 700);
    QCoreApplication::processEvents();
    for (const char* name : {"OKButton", "CancelButton"}) {
        auto* b = find<QWidget>(name);
        const QRect at(b->mapTo(view, QPoint(0, 0)), b->size());
        EXPECT_TRUE(view->rect().contains(at)) << name;
    }
}

TEST_F(Widgets, enter_is_update_and_escape_is_cancel) {
    for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {
        rig.plugin->SelectMenu("Setup");
        find<QLineEdit>("TxtPoll")->setText(key == Qt::Key_Return ? "800" : "900");
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(find<QLineEdit>("TxtPoll"), &press);
        EXPECT_FALSE(view->isVisible()) << key;
        EXPECT_EQ(ReadSetting(rig.ctx(), "poll_interval", "absent"), "800");  // Esc stores nothing
    }
}

TEST_F(Widgets, the_port_lamp_is_no_option_button_and_typing_keeps_to_digits) {
    rig.plugin->SelectMenu("Setup");
    auto* lamp = find<QAbstractButton>("PortOpen");
    EXPECT_EQ(qobject_cast<QRadioButton*>(lamp), nullptr);
    EXPECT_EQ(qobject_cast<QCheckBox*>(lamp), nullptr);
    EXPECT_EQ(lamp->focusPolicy(), Qt::NoFocus);
    struct Case {
        const char* box;
        QString text;
        bool takes;
    };
    const Case cases[] = {
        {"aRemap_0", "512", true},     {"aRemap_0", "5\n6", false},  {"aRemap_0", "7\"8", false},
        {"aRemap_0", "-5", false},     {"aRemap_0", "12345", false}, {"TxtComPort", "3", true},
        {"TxtComPort", "COM3", false}, {"TxtPoll", "2000", true},    {"TxtPoll", "1e3", false},
    };
    for (const auto& c : cases) {
        auto* box = find<QLineEdit>(c.box);
        ASSERT_NE(box->validator(), nullptr) << c.box;
        QString text = c.text;
        int pos = 0;
        EXPECT_EQ(box->validator()->validate(text, pos) != QValidator::Invalid, c.takes)
            << c.box << " " << c.text.toStdString();
    }
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
