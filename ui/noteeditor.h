// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

#include <memory>

namespace Ui {
class NoteEditor;
} // namespace Ui
class Announcer;
class QLineEdit;

// A tape line's note in a field of its own, beside the line. What the
// session would refuse (a tab, a line break, past the limit) is refused in
// the field as it is typed or pasted, with the reason shown and spoken, so
// the note the editor gives can always be set. Enter keeps it, Escape
// leaves the note as it was; an empty field removes it.
class NoteEditor : public QDialog {
    Q_OBJECT
public:
    NoteEditor(const QString& line, const QString& note, QWidget* parent);
    ~NoteEditor() override;

    QString note() const;
    QLineEdit& field() const;
    // Shows the editor beside `line`, the row in global coordinates.
    void showBeside(const QRect& line);

private:
    class Guard;
    void refused(const QString& why);

    std::unique_ptr<Ui::NoteEditor> ui;
    Announcer* announcer_ = nullptr; // made when first needed
};
