// OpenDialog1: the file-open dialog in which the user picks the firmware
// image.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;

class Open_Dialog {
  public:
    // One entry, shown as its label only: hex and binary images in any case
    // of their names, and every other file, also one without a dot in its
    // name (which "*.*" leaves out on Linux). The last parentheses hold the
    // patterns; the label keeps its own.
    static constexpr const char* kFilterLabel = "INTEL HEX (*.hex) Binary (*.bin)";
    static constexpr const char* kFilter = "INTEL HEX (*.hex) Binary (*.bin) (*.HEX *.BIN *)";

    // Shows the dialog modally, starting on the given name; the chosen file,
    // or nothing when the user cancelled.
    using Show_Function = std::function<std::optional<QString>(const QString& current_name)>;

    explicit Open_Dialog(QWidget* parent);

    // Shows the dialog on the file chosen last: the name chosen, in the form
    // the C library opens, or nothing when the user cancelled.
    std::optional<std::string> Choose();

    // How the dialog is set up before it is shown; tests look at what such a
    // dialog lists.
    static void Set_Up(QFileDialog& dialog);

    // Tests replace the modal dialog.
    void Set_Show_Function(Show_Function show) { m_show = std::move(show); }
    const QString& File_Name() const { return m_file_name; }

  private:
    std::optional<QString> Show_Qt_Dialog(const QString& current_name);

    QWidget* m_parent;
    Show_Function m_show;
    QString m_file_name;
};
