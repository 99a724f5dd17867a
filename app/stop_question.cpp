// The windows' stop question: see stop_question.h.
#include "app/stop_question.h"

#include <QWidget>

#include "app/fixed_window.h"

bool Stop_Question::Ask(QWidget* parent, std::string_view question) {
    if (m_answer)
        return m_answer(From_Utf8(question));
    QMessageBox box(QMessageBox::Question, parent->windowTitle(), From_Utf8(question),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    m_box = &box;
    return box.exec() == QMessageBox::Yes;
}

void Stop_Question::Dismiss() {
    // Hidden at once; its event loop ends once the calls on top of it return.
    if (m_box != nullptr)
        m_box->done(QMessageBox::No);
}

void Stop_Question::Change_Text(std::string_view question) {
    if (m_box != nullptr)
        m_box->setText(From_Utf8(question));
}
