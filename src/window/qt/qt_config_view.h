#pragma once
// The configuration window in Qt Widgets: a thin view over FrmConfig. Every
// control carries its name as objectName, so the model, tests and scripts
// find it the same way.
#include <QWidget>

#include "window/frm_config.h"
#include "window/window_view.h"

class QCloseEvent;
class QKeyEvent;
class QTabWidget;

namespace varnel {

class QtConfigView final : public QWidget, public WindowView {
public:
    explicit QtConfigView(QWidget* parent = nullptr);

    void setText(const std::string& control, const std::string& text) override;
    [[nodiscard]] std::string text(const std::string& control) const override;
    void setChecked(const std::string& control, bool on) override;
    [[nodiscard]] bool checked(const std::string& control) const override;
    void setToolTip(const std::string& control, const std::string& tip) override;
    void setEnabled(const std::string& control, bool on) override;
    void setVisible(const std::string& control, bool on) override;
    void setItems(const std::string& control, const std::vector<std::string>& items) override;
    void setCurrentIndex(const std::string& control, int index) override;
    void bringToFront() override;
    void setBusy(bool busy) override;
    [[nodiscard]] std::intptr_t handle() const override;
    void closeWindow() override;
    void attach(FrmConfig& model) override { model_ = &model; }

    [[nodiscard]] QTabWidget* tabs() const { return tabs_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* control(const std::string& name) const;
    void report(const QString& name);
    void choose(int index);
    QWidget* generalTab();
    QWidget* ioTab();
    QWidget* irTab();
    QWidget* cmaxTab();

    QTabWidget* tabs_ = nullptr;
    FrmConfig* model_ = nullptr;
    bool closing_ = false;
    bool busy_ = false;
};

}  // namespace varnel
