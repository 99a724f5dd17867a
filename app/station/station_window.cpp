// Station_Window: the Qt controls of the station window, bound to its model.
#include "app/station/station_window.h"

#include <QApplication>
#include <QBrush>
#include <QCloseEvent>
#include <QColor>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/fixed_window.h"
#include "app/station/station_settings_dialog.h"
#include "journal/journal_server.h"
#include "journal/journal_service.h"
#include "station_window_style.h"
#include "window_model/station_texts.h"

namespace {

constexpr int kColumns = 8;

}  // namespace

Station_Window::Station_Window(Station_Factory factory, Station_Options options, QWidget* parent)
    : QWidget(parent),
      m_open_dialog(this),
      m_model(
          *this,
          [this] {
              // On a station's thread: have the window's thread apply the events.
              QMetaObject::invokeMethod(
                  this, [this] { m_model.Run_Pending_Calls(); }, Qt::QueuedConnection);
          },
          std::move(factory), std::move(options)) {
    setObjectName(QStringLiteral("StationWindow"));
    setStyleSheet(From_Utf8(kStationWindowStyleSheet));
    resize(980, 560);

    auto* buttons = new QHBoxLayout;
    m_open_image = new QPushButton(this);
    m_open_image->setObjectName(QStringLiteral("OpenImage"));
    m_start = new QPushButton(this);
    m_start->setObjectName(QStringLiteral("Start"));
    m_stop = new QPushButton(this);
    m_stop->setObjectName(QStringLiteral("Stop"));
    buttons->addWidget(m_open_image);
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    m_settings = new QPushButton(this);
    m_settings->setObjectName(QStringLiteral("Settings"));
    buttons->addWidget(m_settings);
    connect(m_settings, &QPushButton::clicked, this, &Station_Window::SettingsClick);
    connect(m_open_image, &QPushButton::clicked, this, &Station_Window::OpenImageClick);
    connect(m_start, &QPushButton::clicked, this, &Station_Window::StartClick);
    connect(m_stop, &QPushButton::clicked, this, &Station_Window::StopClick);

    m_table = new QTableWidget(0, kColumns, this);
    m_table->setObjectName(QStringLiteral("Phones"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(kPort, 120);
    m_table->setColumnWidth(kIdentity, 170);
    m_table->setColumnWidth(kPhase, 110);
    m_table->setColumnWidth(kProgress, 130);
    m_table->setColumnWidth(kRate, 80);
    m_table->setColumnWidth(kElapsed, 70);
    m_table->setColumnWidth(kResult, 100);

    m_phone_log = new QPlainTextEdit(this);
    m_phone_log->setObjectName(QStringLiteral("PhoneLog"));
    m_phone_log->setReadOnly(true);
    m_phone_log->setFocusPolicy(Qt::NoFocus);
    connect(m_table, &QTableWidget::currentCellChanged, this,
            [this](int row) { Show_Phone_Log(row); });

    m_messages = new QPlainTextEdit(this);
    m_messages->setObjectName(QStringLiteral("Messages"));
    m_messages->setReadOnly(true);
    m_messages->setFocusPolicy(Qt::NoFocus);
    m_messages->setMaximumHeight(90);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));

    auto* column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(m_table, 3);
    column->addWidget(m_phone_log, 1);
    column->addWidget(m_messages);
    column->addWidget(m_status);

    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        m_model.Tick();
        if (m_journal)
            m_model.Set_Records_Waiting(m_journal->Records_Waiting());
    });
    m_tick.start();

    m_model.FormCreate();
    Load_Settings();
}

Station_Window::~Station_Window() {
    // Its threads may still say something while the stations end.
    if (m_journal)
        m_journal->Say_To({});
}

void Station_Window::Follow_Journal(std::shared_ptr<Journal_Service> journal) {
    m_journal = std::move(journal);
    if (!m_journal)
        return;
    m_journal->Say_To([this](const std::string& line) {
        QMetaObject::invokeMethod(
            this, [this, line] { m_model.Notice(line); }, Qt::QueuedConnection);
    });
    m_journal_server = QSettings().value(QLatin1String(kJournalServerKey)).toString();
    if (!m_journal_server.isEmpty())
        m_journal->Forward_To(m_journal_server.toStdString());
}

bool Station_Window::Apply_Journal_Server(const QString& server) {
    const QString trimmed = server.trimmed();
    if (!m_journal || trimmed == m_journal_server)
        return true;
    if (!trimmed.isEmpty()) {
        if (const std::string problem = Conninfo_Problem(trimmed.toStdString()); !problem.empty()) {
            m_model.Notice(
                std::string(station_text::kJournalServerLabel.For(m_model.Window_Language())) +
                " " + problem);
            return false;
        }
    }
    m_journal_server = trimmed;
    QSettings().setValue(QLatin1String(kJournalServerKey), m_journal_server);
    m_journal->Forward_To(m_journal_server.toStdString());
    m_model.Set_Records_Waiting(m_journal->Records_Waiting());
    return true;
}

// Remembered for the user, so that the logs of every day land together and a
// bench's sockets stay set; the log folder is written back so that the user
// finds the key to change.
void Station_Window::Load_Settings() {
    QSettings settings;
    m_log_folder = settings.value(QLatin1String(kLogFolderKey)).toString();
    if (m_log_folder.isEmpty()) {
        m_log_folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                       QStringLiteral("/station-logs");
        settings.setValue(QLatin1String(kLogFolderKey), m_log_folder);
    }
    m_model.Set_Log_Folder(QFile::encodeName(m_log_folder).toStdString());

    Station_Port_Choice choice;
    for (const QString& match : settings.value(QLatin1String(kMatchKey)).toStringList())
        choice.match.push_back(match.toStdString());
    choice.slots_file =
        QFile::encodeName(settings.value(QLatin1String(kSlotsFileKey)).toString()).toStdString();
    choice.only_slots = settings.value(QLatin1String(kOnlySlotsKey)).toBool();
    // One refused now (its slots file gone) is said; the window then takes
    // every USB port until the user chooses again.
    m_model.Set_Port_Choice(choice);
}

void Station_Window::SettingsClick() {
    Station_Settings_Dialog dialog(
        this, m_model.Window_Language(), m_model.Port_Choice(), m_log_folder,
        [this](const Station_Port_Choice& choice, const QString& log_folder) {
            return Apply_Settings(choice, log_folder);
        });
    // Only a window that keeps a journal has a server to send it to.
    if (m_journal)
        dialog.Offer_Journal_Server(m_journal_server, [this](const QString& server) {
            return Apply_Journal_Server(server);
        });
    dialog.exec();
}

bool Station_Window::Apply_Settings(const Station_Port_Choice& choice, const QString& log_folder) {
    if (!m_model.Set_Port_Choice(choice))
        return false;
    QSettings settings;
    QStringList matches;
    for (const std::string& match : choice.match)
        matches << QString::fromStdString(match);
    settings.setValue(QLatin1String(kMatchKey), matches);
    settings.setValue(QLatin1String(kSlotsFileKey), QFile::decodeName(choice.slots_file.c_str()));
    settings.setValue(QLatin1String(kOnlySlotsKey), choice.only_slots);
    if (!log_folder.isEmpty() && log_folder != m_log_folder) {
        m_log_folder = log_folder;
        settings.setValue(QLatin1String(kLogFolderKey), m_log_folder);
        m_model.Set_Log_Folder(QFile::encodeName(m_log_folder).toStdString());
    }
    return true;
}

QString Station_Window::Status_Text() const {
    return m_status->text();
}

QString Station_Window::Message_Text() const {
    return m_messages->toPlainText();
}

QString Station_Window::Phone_Log_Text() const {
    return m_phone_log->toPlainText();
}

void Station_Window::Show_Phone_Log(int row) {
    m_phone_log->clear();
    if (row < 0 || static_cast<std::size_t>(row) >= m_model.Rows().size())
        return;
    QString text;
    for (const std::string& line : m_model.Lines(static_cast<std::size_t>(row)))
        text += From_Utf8(line) + QLatin1Char('\n');
    m_phone_log->setPlainText(text);
    m_phone_log->moveCursor(QTextCursor::End);
}

void Station_Window::closeEvent(QCloseEvent* event) {
    if (m_model.May_Close())
        event->accept();
    else
        event->ignore();
}

// ---- Station_Window_Face ----

void Station_Window::Caption_Shown(Station_Caption caption, std::string_view text) {
    switch (caption) {
        case Station_Caption::kTitle:
            setWindowTitle(From_Utf8(text));
            break;
        case Station_Caption::kOpenImage:
            m_open_image->setText(From_Utf8(text));
            break;
        case Station_Caption::kStart:
            m_start->setText(From_Utf8(text));
            break;
        case Station_Caption::kStop:
            m_stop->setText(From_Utf8(text));
            break;
        case Station_Caption::kSettings:
            m_settings->setText(From_Utf8(text));
            break;
    }
}

void Station_Window::Column_Headers_Shown(const std::vector<std::string>& headers) {
    QStringList labels;
    for (const std::string& header : headers)
        labels << From_Utf8(header);
    m_table->setHorizontalHeaderLabels(labels);
}

void Station_Window::Buttons_Enabled(bool open_image, bool start, bool stop) {
    m_open_image->setEnabled(open_image);
    m_start->setEnabled(start);
    m_stop->setEnabled(stop);
    // The choice of ports is a station's from its start: not while one runs.
    m_settings->setEnabled(open_image);
}

void Station_Window::Row_Shown(std::size_t index, const Station_Row& row) {
    const int at = static_cast<int>(index);
    if (at >= m_table->rowCount()) {
        m_table->insertRow(at);
        for (int column = 0; column < kColumns; ++column) {
            if (column != kProgress)
                m_table->setItem(at, column, new QTableWidgetItem);
        }
        auto* bar = new QProgressBar(m_table);
        bar->setRange(0, 100);
        bar->setFormat(QStringLiteral("%p%"));
        m_table->setCellWidget(at, kProgress, bar);
        m_table->scrollToBottom();
    }
    const auto set = [this, at](int column, const std::string& text) {
        m_table->item(at, column)->setText(From_Utf8(text));
    };
    set(kPort, row.port_text);
    set(kIdentity, row.identity);
    // The cell may be narrower than the device's whole text: where on the
    // bus it is must be readable in full.
    m_table->item(at, kIdentity)->setToolTip(From_Utf8(row.identity_text));
    set(kPhase, row.phase_text);
    set(kRate, row.rate_text);
    set(kElapsed, row.elapsed_text);
    set(kResult, row.result_text);
    set(kLastLine, row.advice_text.empty() ? row.last_line : row.advice_text);
    m_table->item(at, kLastLine)
        ->setToolTip(From_Utf8(row.advice_text.empty() ? row.last_line
                                                       : row.advice_text + "\n" + row.last_line));
    static_cast<QProgressBar*>(m_table->cellWidget(at, kProgress))->setValue(row.percent);
    // The row's colour says how it ended, at a glance across the bench.
    const Station_Row_State state = State_Of(row);
    const QColor shade = state == Station_Row_State::kFailed    ? QColor(255, 208, 208)
                         : state == Station_Row_State::kUpdated ? QColor(212, 242, 212)
                                                                : QColor();
    for (int column = 0; column < kColumns; ++column) {
        if (QTableWidgetItem* item = m_table->item(at, column))
            item->setBackground(shade.isValid() ? QBrush(shade) : QBrush());
    }
}

void Station_Window::Phone_Failed(std::size_t) {
    QApplication::beep();
}

void Station_Window::Rows_Cleared() {
    m_table->setRowCount(0);
    m_phone_log->clear();
}

void Station_Window::Row_Line_Appended(std::size_t index, std::string_view line) {
    if (static_cast<int>(index) != m_table->currentRow())
        return;
    QTextCursor end(m_phone_log->document());
    end.movePosition(QTextCursor::End);
    end.insertText(From_Utf8(line));
    m_phone_log->moveCursor(QTextCursor::End);
}

void Station_Window::Status_Shown(std::string_view text) {
    m_status->setText(From_Utf8(text));
}

void Station_Window::Message_Appended(std::string_view text) {
    QTextCursor end(m_messages->document());
    end.movePosition(QTextCursor::End);
    end.insertText(From_Utf8(text));
    m_messages->moveCursor(QTextCursor::End);
    m_messages->ensureCursorVisible();
}

bool Station_Window::Ask_Stop_Question(std::string_view question) {
    return m_stop_question.Ask(this, question);
}

void Station_Window::Dismiss_Stop_Question() {
    m_stop_question.Dismiss();
}

void Station_Window::Stop_Question_Changed(std::string_view question) {
    m_stop_question.Change_Text(question);
}
