#pragma once

#include "engine.h"

#include <QWidget>

#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class Calculator;
}
class frm2;

// The main window. Data flow: a click on a key reaches one engine operation
// (the digit and operator keys through their button group, with the key's
// Index) and runs through the frame's dispatch point; the engine reads the
// display text and the pressed key's caption through the Surface below,
// updates its fields and writes the display text back into Readout. An engine
// error is reported by the dispatch point and the key is undone.
class Calculator : public QWidget, private quillo::Surface {
    Q_OBJECT
public:
    // The frame's dispatch point: runs one key's operation and reports an
    // engine error over `window`; false when the key raised one.
    using Dispatch = bool (*)(QWidget* window, const std::function<void()>& operation) noexcept;

    // `title` is the application title, shown on the exit question.
    Calculator(Dispatch dispatch, QString title, QWidget* parent = nullptr);
    ~Calculator() override;

    const quillo::State& engineState() const noexcept { return engine_.state(); }
    // The farewell window, or nullptr until the exit question is answered Yes.
    frm2* farewell() const noexcept { return frm2_.get(); }

private:
    void pic1_Click();
    void cmdexit_Click();
    void run(void (quillo::Engine::*operation)());
    void runIndexed(void (quillo::Engine::*operation)(int), int index);

    std::string displayText() const override;
    void setDisplayText(const std::string& text) override;
    std::string numberCaption(int index) const override;
    std::string operatorCaption(int index) const override;
    void showWarning(std::string_view text, std::string_view title) override;

    std::unique_ptr<Ui::Calculator> ui;
    Dispatch dispatch_;
    QString title_;
    quillo::Engine engine_;
    std::unique_ptr<frm2> frm2_;
};
