// The window inside the USB guest (run by scripts/test-usb, offscreen): the
// main window as the program builds it, with the system's own port listing,
// updates the phone plugged in through a gadget and cdc_acm, and the virtual
// phone on a pseudo-terminal behind a /dev/ttyACM link (scripts/try-window's
// set-up: the guest's /dev is its own). Only the file dialog and the
// completion box are answered by the test.
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <optional>
#include <string>

#include "app/form1.h"
#include "download/texts.h"
#include "tests/support/image_builder.h"
#include "tests/support/virtual_phone_process.h"
#include "usb_gadget.h"

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The window as the program builds it, its file dialog and completion box
// answered: one update of the phone its own search finds, on port.
void Update_Through_The_Window(const std::string& port, const Virtual_Phone_Files& files,
                               Virtual_Phone_Process& phone) {
    test_support::Image_Builder builder;
    builder.version_text = test_support::Bytes("CVLbootloaderVC_M418ZHTWA00101");
    builder.first.start = 0x00010000;
    builder.first.data = test_support::Random_Bytes(70000, 31);
    builder.second.start = 0x00200000;
    builder.second.data = test_support::Random_Bytes(3000, 32);
    test_support::Temp_Image_File image(builder.Build());
    QVERIFY(image.Ok());

    TForm1 form;
    form.show();
    form.OpenDialog1().Set_Show_Function(
        [path = Q(image.Path())](const QString&) { return std::optional<QString>(path); });
    QStringList boxes;
    form.Set_Message_Box([&](const QString& text) { boxes << text; });
    QTest::mouseClick(form.findChild<QPushButton*>("Download"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Runner().Running(), 120000);

    QCOMPARE_EQ(boxes, QStringList{Q(text::kUpdateOkZh)});
    QVERIFY2(Q(form.Memo_Text()).contains(Q(text::kFoundPort) + Q(port)), form.Memo_Text().c_str());
    phone.stop();
    const auto flash = Read_Flash_File(files.flash);
    QVERIFY(flash.has_value() && flash->size() == 2);
    QVERIFY((*flash)[0].bytes == builder.first.data && (*flash)[1].bytes == builder.second.data);
    QCOMPARE_EQ(Host_Deviations(files.deviations), std::string());
}

}  // namespace

class Usb_Window_Test : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void window_finds_the_plugged_in_phone_and_updates_it();
    void window_finds_the_virtual_phone_behind_a_ttyACM_link();

  private:
    QTemporaryDir m_temp;
};

void Usb_Window_Test::init() {
    QVERIFY(m_temp.isValid());
    qputenv("XDG_RUNTIME_DIR", m_temp.path().toLocal8Bit());
}

void Usb_Window_Test::window_finds_the_plugged_in_phone_and_updates_it() {
    usb_rig::Usb_Gadget gadget{usb_rig::Gadget_Spec{}};
    QVERIFY2(gadget.Made() && gadget.Plug(), gadget.Error().c_str());
    const std::string host_tty = gadget.Wait_For_Host_Tty();
    QVERIFY(!host_tty.empty());
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    std::string error;
    QVERIFY2(phone.start(files.args({"--tty", gadget.Phone_Tty()}), &error), error.c_str());
    Update_Through_The_Window(host_tty, files, phone);
}

// What scripts/try-window sets up where there is no phone: the virtual phone
// on a pseudo-terminal behind a link where the phone's port appears. The
// system's listing takes the link, and the window updates through it.
void Usb_Window_Test::window_finds_the_virtual_phone_behind_a_ttyACM_link() {
    const std::string link = "/dev/ttyACM90";
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    std::string error;
    QVERIFY2(phone.start(files.args({"--link", link}), &error), error.c_str());
    Update_Through_The_Window(link, files, phone);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(!std::filesystem::exists(link) && !std::filesystem::is_symlink(link),
             "the link outlived the phone");
}

QTEST_MAIN(Usb_Window_Test)
#include "usb_window_test.moc"
