// The question a window asks before a stop would leave phones that cannot
// start: a Yes/No box that defaults to No, and that the update's end can take
// away while it shows. Tests answer it instead of the user.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <functional>
#include <string_view>

class QWidget;

class Stop_Question {
  public:
    using Answer_Function = std::function<bool(const QString& text)>;

    // Answered by answer from now on instead of a box (empty: the box again).
    void Answer_With(Answer_Function answer) { m_answer = std::move(answer); }
    // True when the user answered Yes.
    bool Ask(QWidget* parent, std::string_view question);
    // The box, if it shows, closes as answered No.
    void Dismiss();
    // The box, if it shows, says question instead.
    void Change_Text(std::string_view question);

  private:
    QPointer<QMessageBox> m_box;
    Answer_Function m_answer;
};
