#include "platform/qt/qt_settings_store.h"

#include <QSettings>
#include <QStringList>
#include <memory>

namespace varnel {

namespace {

constexpr const char* kOrganisation = "varnel";

QString q(const std::string& s) { return QString::fromStdString(s); }

// QSettings takes '/' and '\' in a name as group separators: keep a key one key.
QString clean(const std::string& s) {
    QString t = q(s);
    t.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    return t;
}

QString keyPath(const std::string& section, const std::string& key) {
    return clean(section) + QLatin1Char('/') + clean(key);
}

}  // namespace

std::filesystem::path QtSettingsStore::fileOf(const std::string& app) const {
    if (dir_) return *dir_ / kOrganisation / (app + ".conf");
    const QSettings s(QSettings::IniFormat, QSettings::UserScope, kOrganisation, q(app));
    return s.fileName().toStdString();
}

std::string QtSettingsStore::get(const std::string& app, const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    const QSettings s(QString::fromStdString(fileOf(app).string()), QSettings::IniFormat);
    const QVariant v = s.value(keyPath(section, key));
    if (!v.isValid()) return fallback;
    // A hand-edited value with commas in it comes back as a list.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(',')).toStdString();
    return v.toString().toStdString();
}

void QtSettingsStore::set(const std::string& app, const std::string& section, const std::string& key,
                          const std::string& value) {
    QSettings s(QString::fromStdString(fileOf(app).string()), QSettings::IniFormat);
    s.setValue(keyPath(section, key), q(value));
    s.sync();
}

std::vector<std::string> QtSettingsStore::keys(const std::string& app, const std::string& section) const {
    QSettings s(QString::fromStdString(fileOf(app).string()), QSettings::IniFormat);
    s.beginGroup(clean(section));
    std::vector<std::string> out;
    for (const QString& k : s.childKeys()) out.push_back(k.toStdString());
    return out;
}

}  // namespace varnel
