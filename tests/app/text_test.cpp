// The window's texts without a window: byte texts to screen text, the
// status-bar texts, and the warning when no Chinese font is installed.
#include <QtTest>
#include <cstdio>
#include <ctime>

#include "app/chinese_font.h"
#include "download/clock_text.h"
#include "download/display_text.h"
#include "download/texts.h"

namespace {

// Bytes as the message area shows them.
QString Display_Text(std::string_view bytes) {
    return QString::fromStdString(text::Display_Utf8(bytes));
}

// Bytes as a version field shows them.
QString Field_Text(std::string_view bytes) {
    return QString::fromStdString(text::Displayable_Text(bytes));
}

}  // namespace

class Text_Test : public QObject {
    Q_OBJECT
  private slots:
    void zero_byte_ends_the_text();
    void display_text_decodes_utf8_and_keeps_stray_bytes();
    void version_fields_show_bytes_that_are_not_text_as_escapes();
    void elapsed_text_has_no_leading_zeros_data();
    void elapsed_text_has_no_leading_zeros();
    void time_text_and_clock_line_for_a_fixed_date();
    void missing_chinese_font_is_said_once();
};

void Text_Test::zero_byte_ends_the_text() {
    using namespace std::string_view_literals;
    QCOMPARE(text::Up_To_Zero("abc"sv), "abc"sv);
    QCOMPARE(text::Up_To_Zero("ab\0cd"sv), "ab"sv);
    QCOMPARE(text::Up_To_Zero("\0"sv), ""sv);
    QCOMPARE(text::Up_To_Zero(""sv), ""sv);
}

void Text_Test::display_text_decodes_utf8_and_keeps_stray_bytes() {
    QCOMPARE(Display_Text("更新韌體 V1.0"), QString::fromUtf8("更新韌體 V1.0"));
    // Big5 or arbitrary record bytes are not UTF-8: each shows as its Latin-1
    // character instead of vanishing or turning into U+FFFD.
    QCOMPARE(Display_Text("A\xFF"
                          "B"),
             QString::fromLatin1("A\xFF"
                                 "B"));
    QCOMPARE(Display_Text("\xA7\x41"), QString::fromLatin1("\xA7\x41"));
    // An overlong encoding of '/' is refused as UTF-8.
    QCOMPARE(Display_Text("\xC0\xAF"), QString::fromLatin1("\xC0\xAF"));
    // A lead byte followed by a non-continuation byte.
    QCOMPARE(Display_Text("\xE6"
                          "A"),
             QString::fromLatin1("\xE6"
                                 "A"));
    // Four-byte characters come through whole.
    QCOMPARE(Display_Text("\xF0\x9F\x98\x80").size(), 2);
}

// A phone's erased record (32 bytes of 0xFF) reads "\xff" as in the
// command-line tool, not "ÿ"; a whole character shows whole, and a piece of
// one that never became whole shows its bytes.
void Text_Test::version_fields_show_bytes_that_are_not_text_as_escapes() {
    QString erased;
    for (int i = 0; i < 32; ++i)
        erased += "\\xff";
    QCOMPARE(Field_Text(std::string(32, '\xFF')), erased);
    const std::string character = "韌";  // three bytes
    QCOMPARE(Field_Text("V" + character), QString::fromUtf8("V韌"));
    QCOMPARE(Field_Text("V" + character.substr(0, 2)), QString("V\\xe9\\x9f"));
    QCOMPARE(Field_Text("M418\x1b[2J"), QString("M418\\x1b[2J"));
}

void Text_Test::elapsed_text_has_no_leading_zeros_data() {
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0 << "0:0:0";
    QTest::newRow("first tick") << 1 << "0:0:1";
    QTest::newRow("59") << 59 << "0:0:59";
    QTest::newRow("60") << 60 << "0:1:0";
    QTest::newRow("65") << 65 << "0:1:5";
    QTest::newRow("3599") << 3599 << "0:59:59";
    QTest::newRow("3600") << 3600 << "1:0:0";
    QTest::newRow("3661") << 3661 << "1:1:1";
    QTest::newRow("a day") << 90061 << "25:1:1";
}

void Text_Test::elapsed_text_has_no_leading_zeros() {
    QFETCH(int, seconds);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(clock_text::Elapsed_Text(seconds)), text);
}

void Text_Test::time_text_and_clock_line_for_a_fixed_date() {
    std::tm monday{};
    monday.tm_year = 2026 - 1900;
    monday.tm_mon = 11;
    monday.tm_mday = 7;
    monday.tm_wday = 1;
    monday.tm_hour = 23;
    monday.tm_min = 59;
    monday.tm_sec = 19;
    const std::string time_text = text::Time_Text(monday);
    QCOMPARE(time_text, std::string("Mon Dec 07 23:59:19 2026\n"));

    std::tm early{};
    early.tm_year = 2007 - 1900;
    early.tm_mon = 0;
    early.tm_mday = 2;
    early.tm_wday = 2;
    early.tm_hour = 3;
    early.tm_min = 4;
    early.tm_sec = 5;
    QCOMPARE(text::Time_Text(early), std::string("Tue Jan 02 03:04:05 2007\n"));

    // The "." follows the line feed of the time text.
    QCOMPARE(clock_text::Clock_Line(Language::kEnglish, time_text),
             std::string("The system time is Mon Dec 07 23:59:19 2026\n."));
    QCOMPARE(clock_text::Clock_Line(Language::kChinese, time_text),
             std::string("系統顯示時間為 Mon Dec 07 23:59:19 2026\n."));
}

void Text_Test::missing_chinese_font_is_said_once() {
    std::FILE* err = std::tmpfile();
    QVERIFY(err != nullptr);
    Warn_Once_Without_Chinese_Font(err, true);
    QCOMPARE(std::ftell(err), 0L);
    Warn_Once_Without_Chinese_Font(err, false);
    Warn_Once_Without_Chinese_Font(err, false);
    std::rewind(err);
    char line[512] = {};
    QVERIFY(std::fgets(line, sizeof line, err) != nullptr);
    QVERIFY2(QString(line).contains("fonts-noto-cjk"), line);
    QVERIFY(QString(line).endsWith('\n'));
    QVERIFY(std::fgets(line, sizeof line, err) == nullptr);  // said once
    std::fclose(err);
    // This machine has one: the window shows Chinese, and says nothing.
    QVERIFY(Chinese_Font_Installed());
}

QTEST_MAIN(Text_Test)
#include "text_test.moc"
