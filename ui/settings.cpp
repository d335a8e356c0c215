// SPDX-License-Identifier: MIT
#include "settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

constexpr qint64 kLargest = 64 * 1024;

QString folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quillo");
}

QString file() {
    return folder() + QStringLiteral("/quillo.conf");
}

// A value of the wrong kind reads as the default.
bool flag(const QSettings& settings, const QString& key, bool fallback) {
    const QVariant v = settings.value(key);
    const QString text = v.toString();
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    return fallback;
}

} // namespace

Settings Settings::load() {
    Settings s;
    // Nothing to parse on a first run; a file far larger than any this
    // program writes is not read either.
    const QFileInfo info(file());
    if (!info.isFile() || info.size() > kLargest) {
        return s;
    }
    const QSettings settings(file(), QSettings::IniFormat);
    s.keepOnTop = flag(settings, QStringLiteral("keepOnTop"), s.keepOnTop);
    s.keepTape = flag(settings, QStringLiteral("tape/keep"), s.keepTape);
    s.tapeOpen = flag(settings, QStringLiteral("tape/open"), s.tapeOpen);
    const QRect geometry = settings.value(QStringLiteral("tape/geometry")).toRect();
    if (geometry.isValid() && geometry.width() < 100'000 && geometry.height() < 100'000) {
        s.tapeGeometry = geometry;
    }
    return s;
}

void Settings::save() const {
    // Made private to the user, as the XDG base directories want a missing
    // base folder too.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    ::mkdir(QFile::encodeName(base).constData(), 0700);
    ::mkdir(QFile::encodeName(folder()).constData(), 0700);
    if (!QFileInfo(folder()).isDir()) {
        return;
    }
    QSettings settings(file(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("keepOnTop"), keepOnTop);
    settings.setValue(QStringLiteral("tape/keep"), keepTape);
    settings.setValue(QStringLiteral("tape/open"), tapeOpen);
    if (tapeGeometry.isValid()) {
        settings.setValue(QStringLiteral("tape/geometry"), tapeGeometry);
    }
    settings.sync();
    QFile::setPermissions(file(), QFile::ReadOwner | QFile::WriteOwner);
}
