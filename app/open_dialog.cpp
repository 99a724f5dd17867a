// OpenDialog1 over QFileDialog.
#include "app/open_dialog.h"

#include <QFile>
#include <QFileDialog>

Open_Dialog::Open_Dialog(QWidget* parent) : m_parent(parent) {
    m_show = [this](const QString& current_name) { return Show_Qt_Dialog(current_name); };
}

std::optional<std::string> Open_Dialog::Choose() {
    const std::optional<QString> chosen = m_show(m_file_name);
    if (!chosen)
        return std::nullopt;
    m_file_name = *chosen;
    return QFile::encodeName(m_file_name).toStdString();
}

void Open_Dialog::Set_Up(QFileDialog& dialog) {
    // Qt's own dialog on every system: the label is shown as it is written
    // and the patterns match the same files everywhere, which is what the
    // tests check.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilter(QString::fromLatin1(kFilter));
}

std::optional<QString> Open_Dialog::Show_Qt_Dialog(const QString& current_name) {
    // No title, start folder or default extension: the dialog opens where the
    // program runs, or on the file chosen last.
    QFileDialog dialog(m_parent);
    Set_Up(dialog);
    if (!current_name.isEmpty())
        dialog.selectFile(current_name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
