// SPDX-License-Identifier: MIT
#include "noteeditor.h"

#include "accessibility.h"
#include "placement.h"
#include "session.h"
#include "ui_NoteEditor.h"

#include <QAccessible>
#include <QValidator>

// Takes no text the session would refuse, and says why.
class NoteEditor::Guard : public QValidator {
public:
    explicit Guard(NoteEditor& editor) : QValidator(&editor), editor_(editor) {}
    State validate(QString& input, int&) const override {
        const QByteArray text = input.toUtf8();
        const std::optional<quillo::NoteProblem> why = quillo::noteProblem(
            {text.constData(), static_cast<std::size_t>(text.size())}, quillo::Session::kNoteLimit);
        if (!why) {
            return Acceptable;
        }
        editor_.refused(words(*why));
        return Invalid;
    }

private:
    QString words(quillo::NoteProblem why) const {
        auto said = [this](const char* name) { return editor_.property(name).toString(); };
        switch (why) {
        case quillo::NoteProblem::TooLong:
            return said("whyTooLong").arg(quillo::Session::kNoteLimit);
        case quillo::NoteProblem::Tab:
            return said("whyTab");
        case quillo::NoteProblem::LineBreak:
            return said("whyLineBreak");
        case quillo::NoteProblem::Control:
            return said("whyControl");
        case quillo::NoteProblem::NotText:
        case quillo::NoteProblem::NoLine:
            break;
        }
        return said("whyNotText");
    }

    NoteEditor& editor_;
};

NoteEditor::NoteEditor(const QString& line, const QString& note, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::NoteEditor>()) {
    ui->setupUi(this);
    ui->line->setText(line);
    ui->note->setText(note);
    ui->note->selectAll();
    ui->note->setValidator(new Guard(*this));
    // A change the field took ends what was said of one it refused.
    connect(ui->note, &QLineEdit::textEdited, this, [this] {
        ui->fieldProblem->clear();
        ui->fieldProblem->hide();
    });
    connect(ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

NoteEditor::~NoteEditor() = default;

QString NoteEditor::note() const {
    return ui->note->text();
}

QLineEdit& NoteEditor::field() const {
    return *ui->note;
}

void NoteEditor::refused(const QString& why) {
    ui->fieldProblem->setText(why);
    ui->fieldProblem->show();
    if (QAccessible::isActive()) {
        if (!announcer_) {
            announcer_ = new Announcer(this);
        }
        announcer_->announce(why);
    }
}

void NoteEditor::showBeside(const QRect& line) {
    placement::showBesideLine(*this, line);
}
