// SPDX-License-Identifier: MIT
#include "settings.h"

#include "appearance.h"
#include "xdg.h"

#include <QFile>
#include <QSettings>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kLargest = 64 * 1024;
constexpr int kLargestSide = 100'000;

// The keys as the file names them, in the order of Settings::Key.
constexpr const char* kKeyNames[] = {"keepOnTop", "tape/open",         "tape/geometry", "tape/keep",
                                     "view/zoom", "view/highContrast", "tape/recent"};

QString keyName(int key) {
    return QString::fromLatin1(kKeyNames[key]);
}

QString base() {
    return QFile::decodeName(quillo::xdgFolder("XDG_CONFIG_HOME", ".config").c_str());
}

QString folder() {
    const QString b = base();
    return b.isEmpty() ? QString() : b + QStringLiteral("/quillo");
}

bool isKind(const QString& path, mode_t kind) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

// A value of the wrong kind reads as the default.
bool flag(const QSettings& settings, int key, bool fallback) {
    const QString text = settings.value(keyName(key)).toString();
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    return fallback;
}

// The folder made private to the user and the file made by this program
// before QSettings sees it: Qt's writer follows a symbolic link to wherever
// it points and replaces the target, and would create a missing file with
// the umask's permissions. False where either is a link or of another kind.
bool prepare() {
    const QString b = base();
    if (b.isEmpty()) {
        return false;
    }
    ::mkdir(QFile::encodeName(b).constData(), 0700); // as the XDG rules want a missing base
    const QByteArray dirName = QFile::encodeName(folder());
    ::mkdir(dirName.constData(), 0700);
    const int dir = ::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        return false;
    }
    ::fchmod(dir, 0700); // one made by hand too
    auto isFile = [dir] {
        struct stat st {};
        return ::fstatat(dir, "quillo.conf", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    };
    bool ok = isFile();
    if (!ok && errno == ENOENT) {
        const int fd = ::openat(dir, "quillo.conf",
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
        }
        // Made meanwhile by another window: looked at again.
        ok = fd >= 0 || (errno == EEXIST && isFile());
    }
    ::close(dir);
    return ok;
}

} // namespace

QString Settings::path() {
    const QString f = folder();
    return f.isEmpty() ? QString() : f + QStringLiteral("/quillo.conf");
}

Settings Settings::load() {
    Settings s;
    const QString file = path();
    // Nothing to parse on a first run; a file far larger than any this
    // program writes is not read either, nor one reached through a link.
    struct stat st {};
    if (file.isEmpty() || !isKind(folder(), S_IFDIR) ||
        ::lstat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > kLargest) {
        return s;
    }
    const QSettings settings(file, QSettings::IniFormat);
    s.keepOnTop_ = flag(settings, static_cast<int>(Key::KeepOnTop), s.keepOnTop_);
    s.keepTape_ = flag(settings, static_cast<int>(Key::KeepTape), s.keepTape_);
    s.tapeOpen_ = flag(settings, static_cast<int>(Key::TapeOpen), s.tapeOpen_);
    s.highContrast_ = flag(settings, static_cast<int>(Key::HighContrast), s.highContrast_);
    bool number = false;
    const int zoom = settings.value(keyName(static_cast<int>(Key::Zoom))).toInt(&number);
    if (number && appearance::isZoomStep(zoom)) {
        s.zoom_ = zoom;
    }
    const QRect geometry = settings.value(keyName(static_cast<int>(Key::TapeGeometry))).toRect();
    if (geometry.isValid() && geometry.width() < kLargestSide && geometry.height() < kLargestSide) {
        s.tapeGeometry_ = geometry;
    }
    for (const QString& tape :
         settings.value(keyName(static_cast<int>(Key::RecentTapes))).toStringList()) {
        if (!tape.isEmpty() && !s.recentTapes_.contains(tape) &&
            s.recentTapes_.size() < kRecentTapes) {
            s.recentTapes_.append(tape);
        }
    }
    return s;
}

bool Settings::keepTapeNow() {
    struct stat st {};
    const QString file = path();
    if (file.isEmpty() || ::lstat(QFile::encodeName(file).constData(), &st) != 0) {
        return keepTape_;
    }
    const qint64 changed = qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    if (changed != seen_) {
        seen_ = changed;
        keepTape_ = load().keepTape_;
    }
    return keepTape_;
}

void Settings::setKeepOnTop(bool on) {
    keepOnTop_ = on;
    save(Key::KeepOnTop, on);
}

void Settings::setTapeOpen(bool open) {
    tapeOpen_ = open;
    save(Key::TapeOpen, open);
}

void Settings::setTapeGeometry(const QRect& geometry) {
    if (geometry.isValid()) {
        tapeGeometry_ = geometry;
        save(Key::TapeGeometry, geometry);
    }
}

void Settings::setKeepTape(bool on) {
    keepTape_ = on;
    save(Key::KeepTape, on);
}

void Settings::setZoom(int percent) {
    zoom_ = percent;
    save(Key::Zoom, percent);
}

void Settings::setHighContrast(bool on) {
    highContrast_ = on;
    save(Key::HighContrast, on);
}

void Settings::addRecentTape(const QString& path) {
    recentTapes_.removeAll(path);
    recentTapes_.prepend(path);
    while (recentTapes_.size() > kRecentTapes) {
        recentTapes_.removeLast();
    }
    save(Key::RecentTapes, recentTapes_);
}

void Settings::save(Key key, const QVariant& value) {
    const QString file = path();
    if (file.isEmpty() || !prepare()) {
        return;
    }
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(keyName(static_cast<int>(key)), value);
        settings.sync();
    }
    // Written anew through a temporary file: private again, unless a link
    // took its place meanwhile.
    if (isKind(file, S_IFREG)) {
        ::chmod(QFile::encodeName(file).constData(), 0600);
    }
}
