// Station_Settings_Dialog: which ports the station window takes as phones'
// (USB numbers, a slots file, only its sockets) and where its logs go. The
// dialog only gathers the choice; the window's model judges it, and the
// window remembers it for the user.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "download/texts.h"
#include "window_model/station_window_model.h"

class QCheckBox;
class QFormLayout;
class QLineEdit;

class Station_Settings_Dialog : public QDialog {
    Q_OBJECT
  public:
    // accept_choice is asked on OK; false keeps the dialog open (the model
    // has said why in the window's message area).
    using Accept_Function =
        std::function<bool(const Station_Port_Choice& choice, const QString& log_folder)>;
    Station_Settings_Dialog(QWidget* parent, Language language, const Station_Port_Choice& choice,
                            const QString& log_folder, Accept_Function accept_choice);

    // A field for the line's journal server (a window that keeps a journal);
    // accept_server is asked on OK before the ports, false keeps the dialog open.
    void Offer_Journal_Server(const QString& server,
                              std::function<bool(const QString& server)> accept_server);

    Station_Port_Choice Choice() const;
    QString Log_Folder() const;

  public slots:
    void accept() override;

  private:
    QLineEdit* m_match = nullptr;
    QLineEdit* m_slots = nullptr;
    QCheckBox* m_only_slots = nullptr;
    QLineEdit* m_log_folder = nullptr;
    QLineEdit* m_journal_server = nullptr;
    QFormLayout* m_form = nullptr;
    Language m_language;
    Accept_Function m_accept;
    std::function<bool(const QString& server)> m_accept_server;
};
