// The main and version windows, built as the program builds them: start
// state, layout and fonts, message output, language, clock, the file and
// message-box seams, the hidden menu bar's keys, the version window, and the
// start-up's error box.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QtTest>
#include <memory>
#include <stdexcept>

#include "app/form1.h"
#include "app/form2.h"
#include "app/start_up.h"
#include "download/message_renderer.h"
#include "tests/support/fake_progress_bar.h"
#include "window_model/layout.h"

namespace {

// The first family in a widget's fallback list that is installed and writes
// Han characters; its shapes are the ones the user sees.
QString First_Han_Family(const QFont& font) {
    for (const QString& family : font.families()) {
        if (!QFontDatabase::hasFamily(family))
            continue;
        const auto systems = QFontDatabase::writingSystems(family);
        if (systems.contains(QFontDatabase::TraditionalChinese) ||
            systems.contains(QFontDatabase::SimplifiedChinese) ||
            systems.contains(QFontDatabase::Japanese)) {
            return family;
        }
    }
    return {};
}

// True when some installed family of the widget's list draws the character.
bool Has_Glyph(const QFont& font, char32_t character) {
    for (const QString& family : font.families()) {
        if (!QFontDatabase::hasFamily(family))
            continue;
        QFont single(font);
        single.setFamilies({family});
        if (QFontMetrics(single).inFontUcs4(character))
            return true;
    }
    return false;
}

}  // namespace

class Window_Test : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void controls_sit_where_the_design_puts_them_data();
    void controls_sit_where_the_design_puts_them();
    void window_is_fixed_and_titled();
    void start_state();
    void every_caption_has_glyphs_and_fits_data();
    void every_caption_has_glyphs_and_fits();
    void introduction_is_44_lines_of_drawable_text();
    void introduction_is_read_only_and_tab_moves_on();
    void status_panels_stay_inside_the_bar();

    void memo_appends_lines_and_honours_the_zero_byte();
    void version_fields_fill_byte_by_byte();
    void status_panels_take_panel_texts();

    void language_switches_recaption_and_empty_the_memo();
    void clock_switch_on_and_off();
    void elapsed_time_ticks_into_panel_0_data();
    void elapsed_time_ticks_into_panel_0();
    void elapsed_time_counts_real_seconds_however_late_the_tick();
    void timer1_runs_only_when_the_command_enables_it();

    void open_dialog_starts_on_the_last_file_and_a_cancel_chooses_none();
    void open_dialog_lists_every_file_under_one_label();
    void message_box_seam_replaces_the_modal_box();
    void button_control_moves_both_buttons();
    void progress_bar_reaches_the_port_object();
    void message_area_takes_no_focus_and_shows_no_caret();

    void menu_key_opens_the_hidden_menus();
    void open_menu_bar_leaves_the_introduction_readable();
    void about_shows_one_version_window();
    void escape_closes_the_version_window();

    void start_up_error_is_shown_in_the_box_data();
    void start_up_error_is_shown_in_the_box();

  private:
    template <typename T>
    T* Control(const char* name) {
        auto* control = m_form1->findChild<T*>(QString::fromLatin1(name));
        if (control == nullptr)
            qFatal("no control %s", name);
        return control;
    }

    std::unique_ptr<TForm1> m_form1;
    std::unique_ptr<TForm2> m_form2;
};

void Window_Test::init() {
    m_form1 = std::make_unique<TForm1>();
    m_form2 = std::make_unique<TForm2>();
    m_form1->Set_Version_Window(m_form2.get());
    m_form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form1.get()));
}

void Window_Test::cleanup() {
    m_form2.reset();
    m_form1.reset();
}

// ---- Layout, fonts and start state ----

void Window_Test::controls_sit_where_the_design_puts_them_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    for (const layout::Control_Layout& control : layout::kForm1Controls) {
        const QString name = QString::fromUtf8(control.name.data(), control.name.size());
        QTest::newRow(qPrintable(name))
            << name
            << QRect(control.place.x, control.place.y, control.place.width, control.place.height);
    }
}

void Window_Test::controls_sit_where_the_design_puts_them() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    auto* control = m_form1->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->parentWidget(), m_form1.get());
    QCOMPARE(control->geometry(), geometry);
}

void Window_Test::window_is_fixed_and_titled() {
    QCOMPARE(m_form1->windowTitle(), QString("Corvel VANTREL TOOL (M418)"));
    QCOMPARE(m_form1->size(), QSize(layout::kForm1.client_width, layout::kForm1.client_height));
    QCOMPARE(m_form1->minimumSize(), m_form1->maximumSize());
    QVERIFY(!(m_form1->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_form2->windowTitle(), QString("Version"));
    QCOMPARE(m_form2->size(), QSize(layout::kForm2.client_width, layout::kForm2.client_height));
    for (const layout::Label_Layout& label : layout::kForm2Labels) {
        auto* control = m_form2->findChild<QLabel*>(QString::fromUtf8(label.name.data()));
        QVERIFY(control != nullptr);
        QCOMPARE(control->geometry(),
                 QRect(label.place.x, label.place.y, label.place.width, label.place.height));
    }
    QVERIFY(!m_form2->isVisible());
}

void Window_Test::start_state() {
    QCOMPARE(Control<QPushButton>("Download")->text(), QString("更新韌體"));
    QCOMPARE(Control<QPushButton>("Cancel")->text(), QString("離開"));
    QCOMPARE(Control<QPushButton>("ShowTime")->text(), QString("顯示時間"));
    QCOMPARE(Control<QLabel>("Label2")->text(), QString("新版本"));
    QCOMPARE(Control<QLabel>("Label1")->text(), QString("舊版本"));
    QVERIFY(Control<QPushButton>("Download")->isEnabled());
    QVERIFY(Control<QPushButton>("Cancel")->isEnabled());

    QVERIFY(!Control<QPushButton>("ShowTime")->isVisible());
    QVERIFY(!Control<QProgressBar>("TeProgressBar1")->isVisible());
    QCOMPARE(Control<QProgressBar>("TeProgressBar1")->value(), 0);
    QVERIFY(!Control<QMenuBar>("MainMenu1")->isVisible());
    QVERIFY(Control<QWidget>("StatusBar1")->isVisible());

    QCOMPARE(Control<QPlainTextEdit>("mReceive")->toPlainText(), QString());
    QCOMPARE(m_form1->Memo_Text(), std::string());
    QVERIFY(!Control<QLineEdit>("VersionNameEdit")->isEnabled());
    QVERIFY(!Control<QLineEdit>("OldVersionNameEdit")->isEnabled());
    QCOMPARE(Control<QLineEdit>("VersionNameEdit")->text(), QString());
    QCOMPARE(Control<QLineEdit>("OldVersionNameEdit")->text(), QString());
    QCOMPARE(Control<QLabel>("StatusBar1_Panel0")->text(), QString());
    QCOMPARE(Control<QLabel>("StatusBar1_Panel1")->text(), QString());

    QCOMPARE(m_form1->Model().Language_Flag(), Language::kChinese);
    QCOMPARE(m_form1->Panel().Elapsed_Seconds(), 0);
    QVERIFY(!m_form1->Timer1().isActive());
    QVERIFY(!m_form1->Timer2().isActive());
    QCOMPARE(m_form1->Timer1().interval(), 1000);
    QCOMPARE(m_form1->Timer2().interval(), 1000);

    // Menus as the design names them; their captions never change.
    QCOMPARE(Control<QMenu>("File1")->title(), QString("Language"));
    QCOMPARE(Control<QMenu>("Help1")->title(), QString("&Help"));
    QCOMPARE(Control<QAction>("English")->text(), QString("English"));
    QCOMPARE(Control<QAction>("Chinese")->text(), QString("中文"));
    QCOMPARE(Control<QAction>("About1")->text(), QString("About"));
    // The menus write 中文 in a Traditional Chinese face too.
    auto* language = Control<QMenu>("File1");
    language->ensurePolished();
    QVERIFY(Has_Glyph(language->font(), U'中') && Has_Glyph(language->font(), U'文'));
    QVERIFY(QFontDatabase::writingSystems(First_Han_Family(language->font()))
                .contains(QFontDatabase::TraditionalChinese));
}

void Window_Test::every_caption_has_glyphs_and_fits_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("pixel_size");
    const char* const buttons[] = {"Download", "Cancel", "ShowTime"};
    const QStringList download = {"Download", "更新韌體"};
    const QStringList cancel = {"Cancel", "離開", "cancel"};
    const QStringList show_time = {"Show time", "顯示時間", "Don't Show", "不顯示", "Show Time "};
    const QList<QStringList> button_captions = {download, cancel, show_time};
    for (int i = 0; i < 3; ++i) {
        for (const QString& text : button_captions[i]) {
            QTest::newRow(qPrintable(QString("%1 %2").arg(buttons[i], text)))
                << "Form1" << buttons[i] << text << (i < 2 ? 18 : 13);
        }
    }
    for (const QString& text : QStringList{"New version", "新版本", "New Version"}) {
        QTest::newRow(qPrintable("Label2 " + text)) << "Form1"
                                                    << "Label2" << text << 13;
    }
    for (const QString& text : QStringList{"Old version", "舊版本", "Old Version"}) {
        QTest::newRow(qPrintable("Label1 " + text)) << "Form1"
                                                    << "Label1" << text << 13;
    }
    // The longest clock line fits the visible part of panel 1.
    QTest::newRow("clock line zh") << "Form1"
                                   << "StatusBar1_Panel1"
                                   << "系統顯示時間為 Wed Sep 30 23:59:59 2026." << 13;
    QTest::newRow("clock line en") << "Form1"
                                   << "StatusBar1_Panel1"
                                   << "The system time is Wed Sep 30 23:59:59 2026." << 13;
    QTest::newRow("elapsed") << "Form1"
                             << "StatusBar1_Panel0"
                             << "999:59:59" << 13;
    QTest::newRow("version") << "Form2"
                             << "TeLabel1"
                             << "Version 3.1" << 36;
    QTest::newRow("maker") << "Form2"
                           << "Label2" << QString() << 11;
}

void Window_Test::every_caption_has_glyphs_and_fits() {
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, pixel_size);
    QWidget* top = window == "Form1" ? static_cast<QWidget*>(m_form1.get()) : m_form2.get();
    auto* control = top->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    control->ensurePolished();
    if (caption.isEmpty())
        caption = qobject_cast<QLabel*>(control)->text();
    const QFont font = control->font();
    QCOMPARE(font.pixelSize(), pixel_size);

    // Han characters are drawn with a Traditional Chinese face, not with the
    // Japanese one that a non-Chinese locale would pick.
    const QString han_family = First_Han_Family(font);
    QVERIFY2(!han_family.isEmpty(), qPrintable(font.families().join(", ")));
    QVERIFY2(QFontDatabase::writingSystems(han_family).contains(QFontDatabase::TraditionalChinese),
             qPrintable(han_family));
    QVERIFY2(!han_family.contains("JP") && !han_family.contains("SC"), qPrintable(han_family));

    for (const char32_t character : caption.toUcs4()) {
        if (character == U' ')
            continue;
        QVERIFY2(Has_Glyph(font, character),
                 qPrintable(QString("no glyph for U+%1").arg(character, 4, 16, QChar('0'))));
    }
    const QFontMetrics metrics(font);
    const QRect room = control->contentsRect();
    QVERIFY2(
        metrics.horizontalAdvance(caption) <= room.width(),
        qPrintable(
            QString("%1 px wide in %2").arg(metrics.horizontalAdvance(caption)).arg(room.width())));
    QVERIFY2(metrics.tightBoundingRect(caption).height() <= room.height(),
             qPrintable(QString("%1 px high in %2")
                            .arg(metrics.tightBoundingRect(caption).height())
                            .arg(room.height())));
}

void Window_Test::introduction_is_44_lines_of_drawable_text() {
    auto* memo = Control<QPlainTextEdit>("TeMemo1");
    memo->ensurePolished();
    const QString intro = memo->toPlainText();
    const QStringList lines = intro.split('\n');
    QCOMPARE(lines.size(), 44);
    QVERIFY(lines.first().startsWith(QString("☆★")));
    QVERIFY(lines.last().startsWith(QString("★☆")));
    QCOMPARE(intro.count(QString("◎")), 6);
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->font().pixelSize(), 13);
    QVERIFY(QFontDatabase::writingSystems(First_Han_Family(memo->font()))
                .contains(QFontDatabase::TraditionalChinese));
    const QFontMetrics metrics(memo->font());
    for (const QString& line : lines) {
        for (const char32_t character : line.toUcs4()) {
            if (character == U' ')
                continue;
            QVERIFY2(Has_Glyph(memo->font(), character), qPrintable(line));
        }
        // No line wraps in the memo's text area.
        QVERIFY2(metrics.horizontalAdvance(line) <= memo->viewport()->width() - 8,
                 qPrintable(line));
    }
}

// The introduction is read, not edited: typing changes nothing, and Tab
// moves the focus on instead of going into the text.
void Window_Test::introduction_is_read_only_and_tab_moves_on() {
    auto* intro = Control<QPlainTextEdit>("TeMemo1");
    const QString text = intro->toPlainText();
    m_form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form1.get()));
    intro->setFocus();
    QCOMPARE(QApplication::focusWidget(), intro);
    QTest::keyClicks(intro, "x");
    QTest::keyClick(intro, Qt::Key_Return);
    QCOMPARE(intro->toPlainText(), text);
    QTest::keyClick(intro, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != intro);
    QCOMPARE(intro->toPlainText(), text);
    // Along the design's tab order from Download: Cancel (ShowTime is
    // hidden, mReceive takes no focus, the version fields are disabled),
    // then the introduction.
    Control<QPushButton>("Download")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Control<QPushButton>("Cancel"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), intro);
}

// Panel 0 keeps its width; panel 1 takes the rest of the bar's inside and
// ends at the bar's border instead of running past it.
void Window_Test::status_panels_stay_inside_the_bar() {
    auto* bar = Control<QFrame>("StatusBar1");
    auto* panel0 = Control<QLabel>("StatusBar1_Panel0");
    auto* panel1 = Control<QLabel>("StatusBar1_Panel1");
    QCOMPARE(panel0->parentWidget(), bar);
    QCOMPARE(panel1->parentWidget(), bar);
    const QRect inside = bar->contentsRect();
    QCOMPARE(panel0->width(), layout::kPanelWidths[0]);
    QCOMPARE(panel0->geometry().left(), inside.left());
    QCOMPARE(panel1->geometry().left(), panel0->geometry().right() + 1);
    QVERIFY2(inside.contains(panel1->geometry()),
             qPrintable(QString("panel 1 ends at %1, the bar's inside at %2")
                            .arg(panel1->geometry().right())
                            .arg(inside.right())));
    QCOMPARE(panel1->geometry().right(), inside.right());
}

// ---- Message output ----

void Window_Test::memo_appends_lines_and_honours_the_zero_byte() {
    using namespace std::string_view_literals;
    auto* memo = Control<QPlainTextEdit>("mReceive");
    m_form1->Panel().Print_Str_to_Memo("");
    QCOMPARE(m_form1->Memo_Text(), std::string("\r\n"));
    m_form1->Panel().Clean_Memo();
    m_form1->Panel().Print_Str_to_Memo("abc");
    QCOMPARE(m_form1->Memo_Text(), std::string("abc\r\n"));
    QCOMPARE(memo->toPlainText(), QString("abc\n"));
    m_form1->Panel().Print_Str_to_Memo("找到通訊埠 COM5");
    QCOMPARE(memo->toPlainText(), QString("abc\n找到通訊埠 COM5\n"));

    // A zero byte ends the joined text, line break included; the next line
    // continues where the text stopped.
    m_form1->Panel().Clean_Memo();
    m_form1->Panel().Print_Str_to_Memo("ab\0cd"sv);
    m_form1->Panel().Print_Str_to_Memo("\0"sv);
    m_form1->Panel().Print_Str_to_Memo("ef");
    QCOMPARE(m_form1->Memo_Text(), std::string("abef\r\n"));

    // A time text's line feed is a line break before the ".".
    m_form1->Panel().Clean_Memo();
    m_form1->Panel().Print_Str_to_Memo("Download start at: Mon Dec 07 23:59:19 2026\n.");
    QCOMPARE(memo->toPlainText(), QString("Download start at: Mon Dec 07 23:59:19 2026\n.\n"));

    // Text the user typed into the area stays; messages follow it.
    m_form1->Panel().Clean_Memo();
    memo->setPlainText("note");
    m_form1->Panel().Print_Str_to_Memo("x");
    QCOMPARE(memo->toPlainText(), QString("notex\n"));
}

void Window_Test::version_fields_fill_byte_by_byte() {
    auto* old_field = Control<QLineEdit>("OldVersionNameEdit");
    auto* new_field = Control<QLineEdit>("VersionNameEdit");
    // 32 one-byte calls: A, a zero byte, B and 29 zero bytes read AB.
    m_form1->Panel().Clean_OldTedit();
    const std::string record = std::string("A") + '\0' + "B" + std::string(29, '\0');
    for (const char byte : record)
        m_form1->Panel().Print_Str_to_OldTedit(std::string_view(&byte, 1));
    QCOMPARE(old_field->text(), QString("AB"));

    // A UTF-8 version text arriving one byte at a time shows whole characters.
    m_form1->Panel().Clean_Tedit();
    const std::string version = "M418-繁中-V3";
    for (const char byte : version)
        m_form1->Panel().Print_Str_to_Tedit(std::string_view(&byte, 1));
    QCOMPARE(new_field->text(), QString::fromUtf8("M418-繁中-V3"));
    QCOMPARE(old_field->text(), QString("AB"));  // the fields are separate

    m_form1->Panel().Clean_Tedit();
    QCOMPARE(new_field->text(), QString());
    m_form1->Panel().Print_Str_to_Tedit("V2");
    QCOMPARE(new_field->text(), QString("V2"));
    m_form1->Panel().Clean_OldTedit();
    QCOMPARE(old_field->text(), QString());
}

void Window_Test::status_panels_take_panel_texts() {
    m_form1->Model().Print_Str_to_ToolBar(0, "0:1:5");
    m_form1->Model().Print_Str_to_ToolBar(1, "系統顯示時間為 Mon Dec 07 23:59:19 2026\n.");
    QCOMPARE(Control<QLabel>("StatusBar1_Panel0")->text(), QString("0:1:5"));
    // One line on screen; the text as given is kept.
    QCOMPARE(Control<QLabel>("StatusBar1_Panel1")->text(),
             QString("系統顯示時間為 Mon Dec 07 23:59:19 2026."));
    QCOMPARE(m_form1->Model().Panel_Text(1),
             std::string("系統顯示時間為 Mon Dec 07 23:59:19 2026\n."));
    m_form1->Model().Print_Str_to_ToolBar(0, "");
    QCOMPARE(Control<QLabel>("StatusBar1_Panel0")->text(), QString());
    QCOMPARE(Control<QLabel>("StatusBar1_Panel1")->text().isEmpty(), false);
    // There is no third panel; asking for one changes nothing.
    m_form1->Model().Print_Str_to_ToolBar(2, "x");
    QCOMPARE(Control<QLabel>("StatusBar1_Panel0")->text(), QString());
}

// ---- Language and clock ----

void Window_Test::language_switches_recaption_and_empty_the_memo() {
    m_form1->Panel().Print_Str_to_Memo("Update OK!");
    m_form1->Panel().Print_Str_to_Tedit("V3");
    m_form1->Model().Print_Str_to_ToolBar(0, "0:0:9");
    Control<QAction>("English")->trigger();
    QCOMPARE(m_form1->Model().Language_Flag(), Language::kEnglish);
    QCOMPARE(Control<QPushButton>("Download")->text(), QString("Download"));
    QCOMPARE(Control<QPushButton>("Cancel")->text(), QString("Cancel"));
    QCOMPARE(Control<QPushButton>("ShowTime")->text(), QString("Show time"));
    QCOMPARE(Control<QLabel>("Label2")->text(), QString("New version"));
    QCOMPARE(Control<QLabel>("Label1")->text(), QString("Old version"));
    QCOMPARE(Control<QPlainTextEdit>("mReceive")->toPlainText(), QString());
    // Neither the version fields nor the status bar are touched.
    QCOMPARE(Control<QLineEdit>("VersionNameEdit")->text(), QString("V3"));
    QCOMPARE(Control<QLabel>("StatusBar1_Panel0")->text(), QString("0:0:9"));

    // With the clock running the switch still sets the plain caption.
    m_form1->ShowTimeClick();
    QCOMPARE(Control<QPushButton>("ShowTime")->text(), QString("Don't Show"));
    m_form1->Panel().Print_Str_to_Memo("x");
    Control<QAction>("Chinese")->trigger();
    QCOMPARE(m_form1->Model().Language_Flag(), Language::kChinese);
    QCOMPARE(Control<QPushButton>("Download")->text(), QString("更新韌體"));
    QCOMPARE(Control<QPushButton>("Cancel")->text(), QString("離開"));
    QCOMPARE(Control<QPushButton>("ShowTime")->text(), QString("顯示時間"));
    QCOMPARE(Control<QLabel>("Label2")->text(), QString("新版本"));
    QCOMPARE(Control<QLabel>("Label1")->text(), QString("舊版本"));
    QCOMPARE(Control<QPlainTextEdit>("mReceive")->toPlainText(), QString());
    QVERIFY(m_form1->Timer2().isActive());
    Control<QAction>("English")->trigger();
    QCOMPARE(Control<QPushButton>("ShowTime")->text(), QString("Show time"));
    QVERIFY(m_form1->Timer2().isActive());
}

void Window_Test::clock_switch_on_and_off() {
    auto* panel1 = Control<QLabel>("StatusBar1_Panel1");
    auto* show_time = Control<QPushButton>("ShowTime");
    m_form1->Model().Print_Str_to_ToolBar(1, "before");

    QElapsedTimer since_on;
    since_on.start();
    m_form1->ShowTimeClick();
    QVERIFY(m_form1->Timer2().isActive());
    QCOMPARE(show_time->text(), QString("不顯示"));
    // Untouched until the first tick, one interval later.
    QTest::qWait(300);
    if (since_on.elapsed() < 1000)
        QCOMPARE(panel1->text(), QString("before"));
    QTRY_VERIFY_WITH_TIMEOUT(panel1->text() != "before", 10000);
    QVERIFY(since_on.elapsed() >= 990);
    QVERIFY2(panel1->text().startsWith(QString("系統顯示時間為 ")), qPrintable(panel1->text()));
    QVERIFY(panel1->text().endsWith('.'));
    QVERIFY(m_form1->Model().Panel_Text(1).ends_with("\n."));

    // The next tick writes the line in the language now chosen.
    m_form1->EnglishClick();
    QTRY_VERIFY_WITH_TIMEOUT(panel1->text().startsWith("The system time is "), 10000);

    // Off: panel 1 empties at once and the English caption keeps its blank.
    m_form1->ShowTimeClick();
    QVERIFY(!m_form1->Timer2().isActive());
    QCOMPARE(panel1->text(), QString());
    QCOMPARE(show_time->text(), QString("Show Time "));
    m_form1->ShowTimeClick();
    QCOMPARE(show_time->text(), QString("Don't Show"));
    m_form1->ChineseClick();
    m_form1->ShowTimeClick();
    QCOMPARE(show_time->text(), QString("顯示時間"));
}

void Window_Test::elapsed_time_ticks_into_panel_0_data() {
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("59") << 59 << "0:0:59";
    QTest::newRow("60") << 60 << "0:1:0";
    QTest::newRow("3599") << 3599 << "0:59:59";
    QTest::newRow("3661") << 3661 << "1:1:1";
}

void Window_Test::elapsed_time_ticks_into_panel_0() {
    QFETCH(int, seconds);
    QFETCH(QString, text);
    m_form1->Panel().Set_Elapsed_Seconds(seconds);
    m_form1->Timer1Timer();
    QCOMPARE(m_form1->Panel().Elapsed_Seconds(), seconds);
    QCOMPARE(Control<QLabel>("StatusBar1_Panel0")->text(), text);
}

// The count is real time from a steady clock: a tick that comes late (a busy
// machine) still shows the seconds that have passed, not one more tick.
void Window_Test::elapsed_time_counts_real_seconds_however_late_the_tick() {
    m_form1->Panel().Set_Elapsed_Seconds(0);
    m_form1->Panel().Set_Timer1_Enabled(true);
    QThread::msleep(2600);  // no tick can run meanwhile
    m_form1->Timer1Timer();
    m_form1->Panel().Set_Timer1_Enabled(false);
    QVERIFY2(m_form1->Panel().Elapsed_Seconds() >= 3, "a late tick shows the seconds that passed");
    QVERIFY(m_form1->Panel().Elapsed_Seconds() <= 5);
}

void Window_Test::timer1_runs_only_when_the_command_enables_it() {
    auto* panel0 = Control<QLabel>("StatusBar1_Panel0");
    m_form1->Model().Print_Str_to_ToolBar(0, "0:0:7");  // the last run's final value
    m_form1->Panel().Set_Elapsed_Seconds(0);
    m_form1->Panel().Set_Timer1_Enabled(true);
    QVERIFY(m_form1->Timer1().isActive());
    QCOMPARE(panel0->text(), QString("0:0:7"));
    QTRY_COMPARE_WITH_TIMEOUT(panel0->text(), QString("0:0:1"), 10000);
    m_form1->Panel().Set_Timer1_Enabled(false);
    QVERIFY(!m_form1->Timer1().isActive());
    const QString stopped_at = panel0->text();
    QVERIFY(!stopped_at.isEmpty());  // the last value stays
}

// ---- Seams the download command reaches ----

void Window_Test::open_dialog_starts_on_the_last_file_and_a_cancel_chooses_none() {
    QCOMPARE(QString(Open_Dialog::kFilter).count('|'), 0);
    QVERIFY(!QString(Open_Dialog::kFilter).contains(";;"));  // one entry
    QVERIFY(QString(Open_Dialog::kFilter).startsWith("INTEL HEX (*.hex) Binary (*.bin)"));

    int shown = 0;
    std::optional<QString> answer;  // nothing: the user cancels
    QString started_on = "unset";
    m_form1->OpenDialog1().Set_Show_Function([&](const QString& current) {
        ++shown;
        started_on = current;
        return answer;
    });
    ImageFileChooser& chooser = m_form1->Panel().Image_Dialog();
    QCOMPARE(chooser.Choose_File(), std::string());
    QCOMPARE(started_on, QString());
    answer = QString("/tmp/M418 新版.bin");
    QCOMPARE(chooser.Choose_File(), std::string("/tmp/M418 新版.bin"));
    // Cancelled: the dialog started on the last file, but nothing is chosen.
    answer.reset();
    QCOMPARE(chooser.Choose_File(), std::string());
    QCOMPARE(started_on, QString("/tmp/M418 新版.bin"));
    QCOMPARE(shown, 3);
}

// The dialog as the program sets it up, on a folder of typical names: one
// entry showing its label alone, and every file listed, whatever the case of
// its extension and also without one.
void Window_Test::open_dialog_lists_every_file_under_one_label() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QStringList files = {"m418.HEX", "m418.hex", "m418.Bin", "M418_V101", "notes.txt"};
    for (const QString& name : files) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QFileDialog dialog;
    Open_Dialog::Set_Up(dialog);
    dialog.setDirectory(folder.path());
    dialog.show();
    auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    auto* list = dialog.findChild<QListView*>("listView");
    QVERIFY(types != nullptr && list != nullptr);
    QCOMPARE(types->count(), 1);
    QCOMPARE(types->currentText(), QString(Open_Dialog::kFilterLabel));

    const auto listed = [list] {
        QStringList names;
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row)
            names << list->model()->index(row, 0, root).data().toString();
        names.sort();
        return names;
    };
    QStringList expected = files;
    expected.sort();
    // The dialog reads the folder in the background.
    QTRY_COMPARE_WITH_TIMEOUT(listed(), expected, 10000);
    dialog.close();
}

void Window_Test::message_box_seam_replaces_the_modal_box() {
    QStringList shown;
    m_form1->Set_Message_Box([&](const QString& text) { shown << text; });
    m_form1->Panel().Show_Message_Box({"Update OK!", "更新完成!"});
    QCOMPARE(shown, QStringList{"更新完成!"});
}

void Window_Test::button_control_moves_both_buttons() {
    m_form1->Panel().Button_Control(false);
    QVERIFY(!Control<QPushButton>("Download")->isEnabled());
    QVERIFY(!Control<QPushButton>("Cancel")->isEnabled());
    m_form1->Panel().Button_Control(true);
    QVERIFY(Control<QPushButton>("Download")->isEnabled());
    QVERIFY(Control<QPushButton>("Cancel")->isEnabled());
}

void Window_Test::progress_bar_reaches_the_port_object() {
    auto* bar = Control<QProgressBar>("TeProgressBar1");
    // FormCreate attached the window's bar: a second one is refused.
    FakeProgressBar other;
    Progress_Bar_Renderer other_report(other);
    QVERIFY(!m_form1->Comport().Set_Report(&other_report));
    QVERIFY(m_form1->Comport().Progress_Init(1000));
    // The port object moves the bar from the update's thread: the values
    // reach the window's bar through its event loop.
    QTRY_COMPARE(bar->maximum(), 1000);
    QCOMPARE(bar->minimum(), 0);
    m_form1->Panel().Set_Progress_Visible(true);
    QVERIFY(bar->isVisible());
    m_form1->Panel().Set_Progress_Visible(false);
    QVERIFY(!bar->isVisible());
}

// The message area never takes the keyboard focus, neither from a click nor
// when the update disables the buttons, and shows no caret; its text can
// still be selected and copied with the mouse.
void Window_Test::message_area_takes_no_focus_and_shows_no_caret() {
    auto* memo = Control<QPlainTextEdit>("mReceive");
    auto* download = Control<QPushButton>("Download");
    m_form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form1.get()));
    download->setFocus();
    QCOMPARE(QApplication::focusWidget(), download);
    // Qt draws a caret only where text can be typed or walked by keyboard.
    QVERIFY(!(memo->textInteractionFlags() & (Qt::TextEditable | Qt::TextSelectableByKeyboard)));

    // During an update: no text box gets the focus the buttons lose.
    m_form1->Panel().Button_Control(false);
    QVERIFY(QApplication::focusWidget() != nullptr);
    QVERIFY2(qobject_cast<QPlainTextEdit*>(QApplication::focusWidget()) == nullptr,
             qPrintable(QApplication::focusWidget()->objectName()));
    m_form1->Panel().Print_Str_to_Memo("找到通訊埠 COM5");
    m_form1->Panel().Print_Str_to_Memo("Download start at: Mon Dec 07 23:59:19 2026\n.");
    // After it: back on the button.
    m_form1->Panel().Button_Control(true);
    QCOMPARE(QApplication::focusWidget(), download);

    // A click does not move the focus into it, and the tab key passes it by
    // (it comes next after Download in the tab order).
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, {}, QPoint(20, 8));
    QCOMPARE(QApplication::focusWidget(), download);
    QTest::keyClick(download, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Control<QPushButton>("Cancel"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), download);

    // Selected with the mouse and copied from its context menu.
    const QRect first_line = memo->cursorRect(QTextCursor(memo->document()->firstBlock()));
    QTest::mouseDClick(memo->viewport(), Qt::LeftButton, {},
                       QPoint(first_line.left() + 3, first_line.center().y()));
    const QString selected = memo->textCursor().selectedText();
    QVERIFY2(!selected.isEmpty() && QString("找到通訊埠 COM5").contains(selected),
             qPrintable(selected));
    std::unique_ptr<QMenu> menu(memo->createStandardContextMenu());
    QAction* copy = menu->findChild<QAction*>("edit-copy");
    QVERIFY(copy != nullptr);
    QVERIFY(copy->isEnabled());
    QApplication::clipboard()->clear();
    copy->trigger();
    QCOMPARE(QApplication::clipboard()->text(), selected);
    QVERIFY(QApplication::focusWidget() != memo);
}

// ---- Menus and the version window ----

void Window_Test::menu_key_opens_the_hidden_menus() {
    auto* bar = Control<QMenuBar>("MainMenu1");
    auto* language = Control<QMenu>("File1");
    auto* help = Control<QMenu>("Help1");
    m_form1->activateWindow();
    Control<QPushButton>("Download")->setFocus();

    QTest::keyClick(Control<QPushButton>("Download"), Qt::Key_F10);
    QTRY_VERIFY(language->isVisible());
    QVERIFY(bar->isVisible());
    // Choosing an item runs its command and puts the bar away.
    QTest::keyClick(language, Qt::Key_Down);
    QTest::keyClick(language, Qt::Key_Return);
    QTRY_VERIFY(!language->isVisible());
    QTRY_VERIFY(!bar->isVisible());
    QCOMPARE(m_form1->Model().Language_Flag(), Language::kEnglish);

    // Alt with the Help menu's letter opens Help; Escape closes it.
    QTest::keyClick(Control<QPushButton>("Download"), Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(help->isVisible());
    QTest::keyClick(help, Qt::Key_Escape);
    QTRY_VERIFY(!help->isVisible());
    QTRY_VERIFY(!bar->isVisible());

    // Alt pressed and released alone opens the first menu.
    QTest::keyPress(Control<QPushButton>("Download"), Qt::Key_Alt);
    QTest::keyRelease(Control<QPushButton>("Download"), Qt::Key_Alt);
    QTRY_VERIFY(language->isVisible());
    QTest::keyClick(language, Qt::Key_Escape);
    QTRY_VERIFY(!language->isVisible());
}

// The bar opened by the menu key lies over the window's top edge; the
// introduction's first visible line stays below it, scrolled or not, and
// returns to its place when the bar hides.
void Window_Test::open_menu_bar_leaves_the_introduction_readable() {
    auto* bar = Control<QMenuBar>("MainMenu1");
    auto* language = Control<QMenu>("File1");
    auto* intro = Control<QPlainTextEdit>("TeMemo1");
    // The line at the top of the text area, and where it is in the window.
    const auto first_visible = [intro] { return intro->cursorForPosition(QPoint(2, 2)); };
    const auto first_line_top = [&] {
        const QRect line = intro->cursorRect(first_visible());
        return intro->viewport()->mapTo(m_form1.get(), line.topLeft()).y();
    };
    const int closed_top = first_line_top();
    m_form1->activateWindow();
    Control<QPushButton>("Download")->setFocus();

    for (const int scrolled_to : {0, 5}) {
        intro->verticalScrollBar()->setValue(scrolled_to);
        const QString top_line = first_visible().block().text();
        QTest::keyClick(Control<QPushButton>("Download"), Qt::Key_F10);
        QTRY_VERIFY(language->isVisible());
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->parentWidget(), m_form1.get());
        QVERIFY2(first_line_top() > bar->geometry().bottom(),
                 qPrintable(QString("line at %1, bar down to %2")
                                .arg(first_line_top())
                                .arg(bar->geometry().bottom())));
        QCOMPARE(first_visible().block().text(), top_line);
        QTest::keyClick(language, Qt::Key_Escape);
        QTRY_VERIFY(!bar->isVisible());
        intro->verticalScrollBar()->setValue(0);
        QCOMPARE(first_line_top(), closed_top);
    }
}

void Window_Test::about_shows_one_version_window() {
    const auto count_versions = [] {
        int visible = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "Form2" && top->isVisible())
                ++visible;
        }
        return visible;
    };
    Control<QAction>("About1")->trigger();
    Control<QAction>("About1")->trigger();
    QCOMPARE(count_versions(), 1);
    QVERIFY(m_form2->isVisible());
    // Modeless: the main window stays usable.
    QVERIFY(!m_form2->isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);

    QVERIFY(m_form2->close());
    QVERIFY(!m_form2->isVisible());
    QVERIFY(!m_form2->testAttribute(Qt::WA_DeleteOnClose));
    Control<QAction>("About1")->trigger();
    QCOMPARE(count_versions(), 1);
    auto* version = m_form2->findChild<QLabel*>("TeLabel1");
    QVERIFY(version != nullptr);
    QCOMPARE(version->text(), QString("Version 3.1"));
    QVERIFY(version->font().bold());
}

void Window_Test::escape_closes_the_version_window() {
    Control<QAction>("About1")->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(m_form2.get()));
    QTest::keyClick(m_form2.get(), Qt::Key_Escape);
    QVERIFY(!m_form2->isVisible());
    Control<QAction>("About1")->trigger();
    QVERIFY(m_form2->isVisible());
}

// ---- Start-up ----

void Window_Test::start_up_error_is_shown_in_the_box_data() {
    QTest::addColumn<int>("thrown");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("nothing thrown") << 0 << QStringList{};
    QTest::newRow("standard exception") << 1 << QStringList{"無法建立視窗: out of handles"};
    QTest::newRow("other exception") << 2 << QStringList{"Unknown exception."};
}

// An exception that escapes the windows or the message loop reaches the box
// with its text, while the application object still exists to show it.
void Window_Test::start_up_error_is_shown_in_the_box() {
    QFETCH(int, thrown);
    QFETCH(QStringList, boxes);
    cleanup();  // the windows under test are built by the guarded part
    QStringList shown;
    bool application_alive = false;
    Run_Guarded(
        [thrown] {
            TForm1 form1;
            form1.show();
            if (thrown == 1)
                throw std::runtime_error("無法建立視窗: out of handles");
            if (thrown == 2)
                throw 2;
        },
        [&](const QString& text) {
            shown << text;
            application_alive = QApplication::instance() != nullptr;
        });
    QCOMPARE(shown, boxes);
    QCOMPARE(application_alive, !boxes.isEmpty());
}

QTEST_MAIN(Window_Test)
#include "window_test.moc"
