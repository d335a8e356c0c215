#include "calculator.h"

#include "frm2.h"
#include "ui_Calculator.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QMessageBox>

namespace {

QString toQString(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The array members carry their Index in the window description; the group
// ids are those indexes.
void numberByIndex(QButtonGroup* group) {
    for (QAbstractButton* button : group->buttons()) {
        group->setId(button, button->property("Index").toInt());
    }
}

} // namespace

Calculator::Calculator(Dispatch dispatch, QString title, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Calculator>()), dispatch_(dispatch),
      title_(std::move(title)), engine_(*this) {
    ui->setupUi(this);
    // Let the description's background picture be drawn (a QWidget subclass
    // does not get this by itself); the picture's @2x rendering is picked on
    // a high-DPI screen.
    setAttribute(Qt::WA_StyledBackground);
    numberByIndex(ui->Number);
    numberByIndex(ui->Operator);

    using E = quillo::Engine;
    connect(ui->Number, &QButtonGroup::idClicked, this,
            [this](int index) { runIndexed(&E::Number_Click, index); });
    connect(ui->Operator, &QButtonGroup::idClicked, this,
            [this](int index) { runIndexed(&E::Operator_Click, index); });
    const std::pair<QAbstractButton*, void (E::*)()> keys[] = {
        {ui->Decimal, &E::Decimal_Click},
        {ui->Percent, &E::Percent_Click},
        {ui->cmdsq, &E::cmdsq_Click},
        {ui->cmdqr, &E::cmdqr_Click},
        {ui->cmdsqrt, &E::cmdsqrt_Click},
        {ui->Cancel, &E::Cancel_Click},
        {ui->CancelEntry, &E::CancelEntry_Click},
    };
    for (const auto& [button, operation] : keys) {
        connect(button, &QAbstractButton::clicked, this, [this, op = operation] { run(op); });
    }
    connect(ui->cmdexit, &QAbstractButton::clicked, this, &Calculator::cmdexit_Click);
    connect(ui->pic1, &PictureBox::clicked, this, &Calculator::pic1_Click);

    // The window's load.
    run(&E::Form_Load);
}

Calculator::~Calculator() = default;

void Calculator::run(void (quillo::Engine::*operation)()) {
    dispatch_(this, [&] { (engine_.*operation)(); });
}

void Calculator::runIndexed(void (quillo::Engine::*operation)(int), int index) {
    dispatch_(this, [&] { (engine_.*operation)(index); });
}

void Calculator::pic1_Click() {
    ui->pic1->setVisible(false);
}

void Calculator::cmdexit_Click() {
    QMessageBox question(QMessageBox::Question, title_,
                         QStringLiteral("Are you sure you want to exit?"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::Yes);
    if (question.exec() != QMessageBox::Yes) {
        return;
    }
    if (!frm2_) {
        frm2_ = std::make_unique<frm2>();
    }
    // The farewell window shows before this one hides: never neither.
    frm2_->show();
    frm2_->startTmr1();
    hide();
}

std::string Calculator::displayText() const {
    return ui->Readout->text().toStdString();
}

void Calculator::setDisplayText(const std::string& text) {
    ui->Readout->setText(QString::fromStdString(text));
}

std::string Calculator::numberCaption(int index) const {
    return ui->Number->button(index)->text().toStdString();
}

std::string Calculator::operatorCaption(int index) const {
    return ui->Operator->button(index)->text().toStdString();
}

void Calculator::showWarning(std::string_view text, std::string_view title) {
    QMessageBox box(QMessageBox::Warning, toQString(title), toQString(text), QMessageBox::Ok, this);
    box.exec();
}
