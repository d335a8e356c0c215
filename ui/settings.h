// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtGlobal>

// What the calculator remembers between runs, in quillo.conf under
// $XDG_CONFIG_HOME/quillo (an INI file). A missing, unreadable or broken
// file gives the defaults; one that cannot be written is left as it was.
//
// Each setter writes its own key and no other, so that what another window
// changed in the file meanwhile stands. The folder is private to the user
// (0700) and so is the file (0600); neither is written through a symbolic
// link.
class Settings {
public:
    static Settings load();

    bool keepOnTop() const noexcept { return keepOnTop_; }
    bool tapeOpen() const noexcept { return tapeOpen_; }
    // The tape window's size, and its frame's place from the calculator's
    // frame's top left; empty: never opened.
    QRect tapeGeometry() const noexcept { return tapeGeometry_; }
    bool keepTape() const noexcept { return keepTape_; }
    // The zoom in per cent (one of the zoom steps) and the dark look.
    int zoom() const noexcept { return zoom_; }
    bool highContrast() const noexcept { return highContrast_; }
    // The saved tapes last opened or saved, the newest first.
    QStringList recentTapes() const { return recentTapes_; }
    static constexpr int kRecentTapes = 8;

    // Whether the tape is still to be kept, as the file now says: another
    // window may have switched it off. Reads the file only when it changed.
    bool keepTapeNow();

    void setKeepOnTop(bool on);
    void setTapeOpen(bool open);
    void setTapeGeometry(const QRect& geometry);
    void setKeepTape(bool on);
    void setZoom(int percent);
    void setHighContrast(bool on);
    // Puts `path` first among the recent tapes.
    void addRecentTape(const QString& path);

    // The file; "" where neither XDG_CONFIG_HOME nor HOME is an absolute path.
    static QString path();

private:
    enum class Key { KeepOnTop, TapeOpen, TapeGeometry, KeepTape, Zoom, HighContrast, RecentTapes };
    static void save(Key key, const QVariant& value);

    bool keepOnTop_ = false;
    bool tapeOpen_ = false;
    QRect tapeGeometry_;
    bool keepTape_ = true;
    int zoom_ = 100;
    bool highContrast_ = false;
    QStringList recentTapes_;
    // The file as last read for keepTapeNow(): its change time, in ns.
    qint64 seen_ = -1;
};
