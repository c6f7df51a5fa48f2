#include "window/qt/qt_config_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "support/settings.h"

namespace varnel {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
QString indexed(const char* array, int i) { return q(controlName(array, i)); }

template <class W>
W* named(W* w, const QString& name) {
    w->setObjectName(name);
    return w;
}

QLabel* label(const QString& name, const QString& caption) { return named(new QLabel(caption), name); }

QGroupBox* frame(const QString& name, const QString& title, QLayout* layout) {
    auto* box = named(new QGroupBox(title), name);
    box->setLayout(layout);
    return box;
}

void digitsOnly(QLineEdit* box, int digits) {
    box->setValidator(new QRegularExpressionValidator(QRegularExpression(QString("[0-9]{0,%1}").arg(digits)), box));
}

// Asks for the whole page (a plain scroll area asks for a fixed small size), and can
// still be made smaller than it.
class PageScroll final : public QScrollArea {
public:
    [[nodiscard]] QSize sizeHint() const override {
        const int f = 2 * frameWidth();
        return widget() != nullptr ? widget()->sizeHint() + QSize(f, f) : QScrollArea::sizeHint();
    }
};

QScrollArea* scrolled(QWidget* page) {
    auto* area = new PageScroll;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    return area;
}

// The port lamp: lit while the port is open. A button only so that the model sets it
// like a check box; it takes no clicks and no focus.
class Lamp final : public QAbstractButton {
public:
    Lamp() {
        setCheckable(true);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    [[nodiscard]] QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(palette().color(QPalette::Dark), 1));
        p.setBrush(isChecked() ? QColor(40, 190, 60) : palette().color(QPalette::Mid));
        const int d = std::min(width(), height()) - 2;
        p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
    }
};

}  // namespace

QtConfigView::QtConfigView(QWidget* parent) : QWidget(parent) {
    setObjectName("FrmConfig");
    setWindowTitle("Configure Interface");
    tabs_ = named(new QTabWidget, "SSTab1");
    // Each page scrolls, so the window fits a small screen with Update and Cancel in reach.
    tabs_->addTab(scrolled(generalTab()), "General /Variables");
    tabs_->addTab(scrolled(ioTab()), "I/O Devices");
    tabs_->addTab(scrolled(irTab()), "Infra Red Remap");
    tabs_->addTab(scrolled(cmaxTab()), "CMAX");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(label("lblver", ""));
    buttons->addStretch();
    for (auto [name, caption] : {std::pair{"OKButton", "Update"}, std::pair{"CancelButton", "Cancel"}}) {
        auto* b = named(new QPushButton(caption), name);
        connect(b, &QPushButton::clicked, this, [this, n = QString(name)] { report(n); });
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(buttons);
    // Opens at its natural size, or as much of it as the screen has room for.
    if (const QScreen* s = screen()) resize(sizeHint().boundedTo(s->availableGeometry().size()));

    // Clicks on check boxes, option buttons and buttons go to the model by name.
    for (auto* b : findChildren<QAbstractButton*>()) {
        const QString name = b->objectName();
        if (name.isEmpty() || name == "OKButton" || name == "CancelButton" || name == "PortOpen") continue;
        connect(b, &QAbstractButton::clicked, this, [this, name] { report(name); });
    }
    // Typing is kept to digits; the model checks the range before anything is stored.
    const std::pair<const char*, int> digitBoxes[] = {{"TxtComPort", 3}, {"TxtPoll", 5}};
    for (auto [name, digits] : digitBoxes) digitsOnly(findChild<QLineEdit*>(name), digits);
    // The path boxes open their picker on a click; a remap box counts as changed once clicked.
    for (auto* e : findChildren<QLineEdit*>()) {
        const QString name = e->objectName();
        if (name.startsWith("aRemap_")) {
            digitsOnly(e, 4);
            connect(e, &QLineEdit::textEdited, this, [this, name] { report(name); });
            e->installEventFilter(this);
        } else if (name == "aProjectFile" || name == "aCMAXexe" || name == "aIRMaxExe") {
            e->installEventFilter(this);
        }
    }
}

QWidget* QtConfigView::generalTab() {
    auto* page = new QWidget;
    // Settings on the left, the variables grid on the right: fits a 1024-pixel screen.
    auto* columns = new QHBoxLayout(page);
    auto* left = new QVBoxLayout;
    columns->addLayout(left);

    auto* iface = new QVBoxLayout;
    auto* ifaceGroup = new QButtonGroup(page);
    for (int i : {1, 0}) {
        auto* r = named(new QRadioButton(i == 1 ? "Varnel" : "Applied Digital Ocelot"), indexed("aInterfaceChange", i));
        ifaceGroup->addButton(r);
        iface->addWidget(r);
    }
    iface->addWidget(named(new QPushButton("Set Clock"), "aClock"));
    left->addWidget(frame("Frame11", "Interface Name", iface));

    auto* conn = new QGridLayout;
    conn->addWidget(named(new QCheckBox("Send Device String Update  on Value Change"), "aUpdateStrings"), 0, 0, 1, 3);
    conn->addWidget(named(new QCheckBox("Run as XAP node,  HS is User Interface"), "aRunAsXapNode"), 1, 0, 1, 3);
    conn->addWidget(label("Label3", "Com port:"), 2, 0);
    conn->addWidget(named(new QLineEdit, "TxtComPort"), 2, 1);
    auto* pollLabel = label("Label4", "Poll Interval (milliseconds) (for variable changes only):");
    pollLabel->setWordWrap(true);
    conn->addWidget(pollLabel, 3, 0);
    auto* poll = named(new QLineEdit, "TxtPoll");
    // The label says what the interval is for; the tip what it takes.
    poll->setToolTip(QString("Time between two reads of the controller's variables, %1 to %2 milliseconds")
                         .arg(setting::kPollInterval.min)
                         .arg(setting::kPollInterval.max));
    conn->addWidget(poll, 3, 1);
    auto* lampRow = new QHBoxLayout;
    lampRow->addWidget(named(new Lamp, "PortOpen"));
    lampRow->addWidget(label("Label7", "Com Open"));
    lampRow->addStretch();
    conn->addLayout(lampRow, 4, 0);
    conn->addWidget(named(new QPushButton("Disconnect from Ocelot"), "Disconnect"), 4, 1, 1, 2);
    left->addWidget(frame("Frame10", "Connectivity", conn));

    auto* logging = new QVBoxLayout;
    logging->addWidget(named(new QCheckBox("Log checksum errors and serial timeouts"), "ChkLogErrors"));
    auto* comms = named(new QCheckBox("Log comms to ocelot.log"), "ChkLogComms");
    comms->setToolTip("Log serial communications to log file");
    logging->addWidget(comms);
    left->addWidget(frame("Frame3", "Logging", logging));

    auto* prefs = new QVBoxLayout;
    prefs->addWidget(named(new QCheckBox("Process X10 Transmit from Ocelot"), "aX10Xmit"));
    prefs->addWidget(named(new QCheckBox("Show Setup Page on Host Title Bar"), "showInMenu"));
    left->addWidget(frame("frm", "Preferences", prefs));
    auto* ir = new QVBoxLayout;
    ir->addWidget(named(new QCheckBox("Do Not Forward IR Recognition to Host"), "aIRRecognitionForward"));
    left->addWidget(frame("Frame5", "IR Recognition", ir));
    left->addStretch();

    // 128 variables, 64 under each house letter, 16 to a row.
    auto* vars = new QGridLayout;
    vars->setHorizontalSpacing(2);
    vars->setVerticalSpacing(0);
    for (int c = 0; c < 16; ++c) vars->addWidget(new QLabel(QString::number(c)), 0, c + 1, Qt::AlignCenter);
    for (int half = 0; half < 2; ++half) {
        const int top = 1 + half * 5;
        vars->addWidget(label(half == 0 ? "aVariableHouseCode1" : "aVariableHouseCode2", ""), top, 0, 1, 17);
        for (int r = 0; r < 4; ++r) {
            const int first = half * 64 + r * 16;
            vars->addWidget(new QLabel(QString::number(first)), top + 1 + r, 0, Qt::AlignRight);
            for (int c = 0; c < 16; ++c)
                vars->addWidget(named(new QCheckBox, indexed("Check1", first + c)), top + 1 + r, c + 1);
        }
    }
    auto* varButtons = new QHBoxLayout;
    varButtons->addWidget(named(new QPushButton("Create and Delete Variables"), "aCreateVariables"));
    varButtons->addWidget(named(new QPushButton("Create Leopard Device"), "Command1"));
    vars->setRowStretch(11, 1);
    vars->addLayout(varButtons, 12, 0, 1, 17);
    columns->addWidget(frame(indexed("Frame1", 1), "Variables To/From Host Devices", vars), 1);
    return page;
}

QWidget* QtConfigView::ioTab() {
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);

    auto* units = new QVBoxLayout;
    units->addWidget(label("Label1", "Units discovered:"));
    units->addWidget(named(new QListWidget, "List1"));
    units->addWidget(named(new QCheckBox("Invert Inputs"), "ChkInvert"));
    row->addWidget(frame(indexed("Frame1", 0), "Controller && I/O Units", units));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(0);
    grid->addWidget(label(indexed("Label9", 0), "Invert"), 0, 0);
    grid->addWidget(label(indexed("Label9", 1), "Hse"), 0, 1);
    grid->addWidget(label(indexed("Label8", 0), "Type"), 0, 2, 1, 3);
    for (int i = 1; i < 4; ++i) grid->addWidget(label(indexed("Label8", i), ""), 0, 2 + i);
    for (int p = 0; p < 16; ++p)
        grid->addWidget(label(indexed("Label2", 10 + p), QString::number(p + 1)), 0, 5 + p, Qt::AlignCenter);
    auto* line = named(new QFrame, "Line1");
    line->setFrameShape(QFrame::HLine);
    grid->addWidget(line, 1, 0, 1, 21);
    for (int r = 0; r < 16; ++r) {
        grid->addWidget(named(new QCheckBox, indexed("aInvert", r)), r + 2, 0);
        grid->addWidget(label(indexed("aIOHouse", r), ""), r + 2, 1);
        grid->addWidget(label(indexed("aIOUnit", r + 32), ""), r + 2, 2);
        grid->addWidget(label(indexed("aIOUnit", r + 16), ""), r + 2, 3);
        grid->addWidget(label(indexed("aIOUnit", r), ""), r + 2, 4);
        for (int p = 0; p < 16; ++p)
            grid->addWidget(named(new QCheckBox, indexed("IOPoint", 16 * r + p)), r + 2, 5 + p);
    }
    grid->setRowStretch(18, 1);
    grid->addWidget(named(new QPushButton("Create and Delete  I/O Point Devices "), "ButCreate"), 19, 0, 1, 21);
    row->addWidget(frame("Frame2", "", grid), 1);
    return page;
}

QWidget* QtConfigView::irTab() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->addWidget(label("Label10", "IR Devce"), 0, 0);
    auto* groups = named(new QComboBox, "aIRDevice");
    connect(groups, &QComboBox::activated, this, [this](int index) { choose(index); });
    grid->addWidget(groups, 0, 1, 1, 2);
    for (int col = 0; col < 3; ++col) {
        grid->addWidget(label(indexed("Label12", col), "Host IR Definition "), 1, col * 2);
        grid->addWidget(label(indexed("Label13", col), "Remap to IR Loc"), 1, col * 2 + 1);
        for (int r = 0; r < 12; ++r) {
            const int i = col * 12 + r;
            grid->addWidget(label(indexed("aIRLabel", i), ""), r + 2, col * 2);
            grid->addWidget(named(new QLineEdit, indexed("aRemap", i)), r + 2, col * 2 + 1);
        }
    }
    grid->setRowStretch(14, 1);
    return page;
}

QWidget* QtConfigView::cmaxTab() {
    auto* page = new QWidget;
    auto* col = new QVBoxLayout(page);

    auto* apps = new QGridLayout;
    apps->addWidget(named(new QPushButton("IRMax"), "aIRMax"), 0, 0);
    apps->addWidget(named(new QPushButton("CMAX"), "aCMAX"), 0, 1);
    auto* note15 = label("Label15", "Script Varnel_CMAXSync.txt is called before and after CMAX execution.");
    auto* note11 = label("Label11",
                         "Note that the host will not communicate with Ocelot while CMAX is running.  Communications "
                         "will be restored when CMAX closes.");
    note11->setWordWrap(true);
    apps->addWidget(note15, 1, 0, 1, 2);
    apps->addWidget(note11, 2, 0, 1, 2);
    col->addWidget(frame("Applications", "Applications", apps));

    auto* include = new QVBoxLayout;
    for (auto [name, caption] : {std::pair{"aIncludeVariables", "Variables"}, std::pair{"aIncludeX10", "X10"},
                                 std::pair{"aIncludeIO", "I/O Units"}, std::pair{"aIncludeIR", "IR Labels"},
                                 std::pair{"aIncludeMessages", "Messages"}})
        include->addWidget(named(new QCheckBox(caption), name));
    auto* sync = new QGridLayout;
    sync->addWidget(frame("Include", "Include Following for Synchronization", include), 0, 0, 3, 1);
    auto* masters = new QButtonGroup(page);
    auto* hostMaster = named(new QRadioButton("Host Master"), indexed("aSyncMaster", 0));
    hostMaster->setToolTip("Select if Host Devices contain Master Definitions");
    auto* cmaxMaster = named(new QRadioButton("CMAX Master"), indexed("aSyncMaster", 1));
    cmaxMaster->setToolTip("Select if CMAX System Map Contains the Master Definitions");
    masters->addButton(hostMaster);
    masters->addButton(cmaxMaster);
    sync->addWidget(hostMaster, 0, 1);
    sync->addWidget(cmaxMaster, 1, 1);
    sync->addWidget(named(new QPushButton("Synchronize HS/CMAX"), "aSynchronize"), 2, 1);
    col->addWidget(frame("Synchronize", "Synchronize System Map and Host Definitions", sync));

    auto* paths = new QGridLayout;
    int r = 0;
    for (auto [name, caption] :
         {std::pair{"aIRMaxExe", "IRmax.exe Path"}, std::pair{"aProjectFile", "Project File Path"},
          std::pair{"aCMAXexe", "cpuxa.exe Path"}}) {
        paths->addWidget(new QLabel(caption), r++, 0);
        paths->addWidget(named(new QLineEdit, name), r++, 0);
    }
    col->addWidget(frame("CMAXFiles", "CMAX Files", paths));
    col->addStretch();
    return page;
}

QWidget* QtConfigView::control(const std::string& name) const { return findChild<QWidget*>(q(name)); }

// The model holds a click that cannot run yet and runs it once it can.
void QtConfigView::report(const QString& name) {
    if (model_) model_->clicked(name.toStdString());
}

void QtConfigView::choose(int index) {
    if (model_) model_->chosen("aIRDevice", index);
}

void QtConfigView::keyPressEvent(QKeyEvent* event) {
    // Enter is Update and Esc is Cancel, wherever the focus is (a list or a box that
    // takes the key for itself has it first).
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: report("OKButton"); return;
        case Qt::Key_Escape: report("CancelButton"); return;
        default: QWidget::keyPressEvent(event);
    }
}

bool QtConfigView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) report(watched->objectName());
    return QWidget::eventFilter(watched, event);
}

void QtConfigView::setText(const std::string& name, const std::string& text) {
    QWidget* w = control(name);
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(q(text));
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(q(text));
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(q(text));
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(q(text));
}

std::string QtConfigView::text(const std::string& name) const {
    QWidget* w = control(name);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    return {};
}

void QtConfigView::setChecked(const std::string& name, bool on) {
    auto* b = qobject_cast<QAbstractButton*>(control(name));
    if (!b) return;
    b->setChecked(on);
}

bool QtConfigView::checked(const std::string& name) const {
    auto* b = qobject_cast<QAbstractButton*>(control(name));
    return b && b->isChecked();
}

void QtConfigView::setToolTip(const std::string& name, const std::string& tip) {
    if (QWidget* w = control(name)) w->setToolTip(q(tip));
}

void QtConfigView::setEnabled(const std::string& name, bool on) {
    if (QWidget* w = control(name)) w->setEnabled(on);
}

void QtConfigView::setVisible(const std::string& name, bool on) {
    // Hidden controls keep their place so the grid does not shift.
    if (QWidget* w = control(name)) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
        w->setVisible(on);
    }
}

void QtConfigView::setItems(const std::string& name, const std::vector<std::string>& items) {
    QStringList list;
    for (const auto& i : items) list << q(i);
    QWidget* w = control(name);
    if (auto* l = qobject_cast<QListWidget*>(w)) {
        l->clear();
        l->addItems(list);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        c->clear();
        c->addItems(list);
    }
}

void QtConfigView::setCurrentIndex(const std::string& name, int index) {
    if (auto* c = qobject_cast<QComboBox*>(control(name))) c->setCurrentIndex(index);
}

void QtConfigView::bringToFront() {
    show();
    raise();
    activateWindow();
}

void QtConfigView::setBusy(bool busy) {
    if (busy == busy_) return;  // the override cursors stack; keep them paired
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

std::intptr_t QtConfigView::handle() const { return static_cast<std::intptr_t>(winId()); }

void QtConfigView::closeWindow() {
    closing_ = true;
    hide();
}

void QtConfigView::closeEvent(QCloseEvent* event) {
    // The close box unloads like Cancel: the closing prompts still run. Held while a
    // handler runs or the line is busy; the model closes the window when it has run.
    if (!closing_ && model_ && !model_->unloaded()) {
        model_->clicked("CancelButton");
        if (!model_->unloaded()) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

}  // namespace varnel
