#include "window/qt/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace varnel {

void QtPrompts::message(const std::string& text, PromptStyle style) {
    const auto icon = style == PromptStyle::Critical      ? QMessageBox::Critical
                      : style == PromptStyle::Exclamation ? QMessageBox::Warning
                                                          : QMessageBox::NoIcon;
    QMessageBox box(icon, QApplication::applicationDisplayName(), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

bool QtPrompts::question(const std::string& text) {
    return QMessageBox::question(nullptr, QApplication::applicationDisplayName(), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtPrompts::beep() { QApplication::beep(); }

std::string qtNameFilters(const std::string& filter) {
    const auto bar = filter.find('|');
    std::string description = filter.substr(0, bar);
    const std::string pattern = bar == std::string::npos ? "*" : filter.substr(bar + 1);
    // Qt reads the patterns from the last parentheses of the description.
    if (description.empty() || description.back() != ')') description += " (" + pattern + ")";
    return description + ";;All files (*)";
}

std::string QtFilePicker::openFile(const std::string& filter) {
    return QFileDialog::getOpenFileName(nullptr, QString(), QString(), QString::fromStdString(qtNameFilters(filter)))
        .toStdString();
}

}  // namespace varnel
