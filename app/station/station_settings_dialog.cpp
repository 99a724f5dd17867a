// Station_Settings_Dialog: a form of four fields, in the window's language.
#include "app/station/station_settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/fixed_window.h"
#include "window_model/station_texts.h"

namespace {

QString Words(const station_text::Pair& pair, Language language) {
    return From_Utf8(pair.For(language));
}

// A line edit with a Browse button beside it that fills it.
QWidget* With_Browse(QWidget* parent, QLineEdit* edit, Language language,
                     std::function<QString(const QString&)> browse) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    auto* button = new QPushButton(Words(station_text::kBrowse, language), row);
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, row, [edit, browse] {
        const QString chosen = browse(edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    return row;
}

}  // namespace

Station_Settings_Dialog::Station_Settings_Dialog(QWidget* parent, Language language,
                                                 const Station_Port_Choice& choice,
                                                 const QString& log_folder,
                                                 Accept_Function accept_choice)
    : QDialog(parent), m_language(language), m_accept(std::move(accept_choice)) {
    setObjectName(QStringLiteral("StationSettings"));
    setWindowTitle(Words(station_text::kSettingsTitle, language));

    QStringList matches;
    for (const std::string& match : choice.match)
        matches << QString::fromStdString(match);
    m_match = new QLineEdit(matches.join(QLatin1Char(' ')), this);
    m_match->setObjectName(QStringLiteral("Match"));
    m_slots = new QLineEdit(QFile::decodeName(choice.slots_file.c_str()), this);
    m_slots->setObjectName(QStringLiteral("SlotsFile"));
    m_only_slots = new QCheckBox(Words(station_text::kOnlySlotsLabel, language), this);
    m_only_slots->setObjectName(QStringLiteral("OnlySlots"));
    m_only_slots->setChecked(choice.only_slots);
    // Only the sockets of a file: without one the box means nothing.
    const auto follow = [this] { m_only_slots->setEnabled(!m_slots->text().trimmed().isEmpty()); };
    connect(m_slots, &QLineEdit::textChanged, this, follow);
    follow();
    m_log_folder = new QLineEdit(log_folder, this);
    m_log_folder->setObjectName(QStringLiteral("LogFolder"));

    auto* form = m_form = new QFormLayout;
    form->addRow(Words(station_text::kMatchLabel, language), m_match);
    form->addRow(Words(station_text::kSlotsLabel, language),
                 With_Browse(this, m_slots, language, [this](const QString& now) {
                     return QFileDialog::getOpenFileName(this, QString(), now);
                 }));
    form->addRow(QString(), m_only_slots);
    form->addRow(Words(station_text::kLogFolderLabel, language),
                 With_Browse(this, m_log_folder, language, [this](const QString& now) {
                     return QFileDialog::getExistingDirectory(this, QString(), now);
                 }));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &Station_Settings_Dialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(buttons);
    resize(560, sizeHint().height());
}

Station_Port_Choice Station_Settings_Dialog::Choice() const {
    Station_Port_Choice choice;
    choice.match = Split_Matches(m_match->text().toStdString());
    choice.slots_file = QFile::encodeName(m_slots->text().trimmed()).toStdString();
    choice.only_slots = m_only_slots->isEnabled() && m_only_slots->isChecked();
    return choice;
}

void Station_Settings_Dialog::Offer_Journal_Server(
    const QString& server, std::function<bool(const QString& server)> accept_server) {
    m_journal_server = new QLineEdit(server, this);
    m_journal_server->setObjectName(QStringLiteral("JournalServer"));
    m_journal_server->setPlaceholderText(QStringLiteral("postgresql://USER@HOST/DB"));
    m_form->addRow(Words(station_text::kJournalServerLabel, m_language), m_journal_server);
    m_accept_server = std::move(accept_server);
    resize(width(), sizeHint().height());
}

QString Station_Settings_Dialog::Log_Folder() const {
    return m_log_folder->text().trimmed();
}

void Station_Settings_Dialog::accept() {
    if (m_accept_server && !m_accept_server(m_journal_server->text()))
        return;
    if (!m_accept || m_accept(Choice(), Log_Folder()))
        QDialog::accept();
}
