// The window once over the real USB path, inside the USB guest (run by
// scripts/test-usb, offscreen): the main window as the program builds it,
// with the system's own port listing, updates the phone plugged in through
// a gadget and cdc_acm. Only the file dialog and the completion box are
// answered by the test.
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

}  // namespace

class Usb_Window_Test : public QObject {
    Q_OBJECT
  private slots:
    void window_finds_the_plugged_in_phone_and_updates_it();
};

void Usb_Window_Test::window_finds_the_plugged_in_phone_and_updates_it() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    qputenv("XDG_RUNTIME_DIR", temp.path().toLocal8Bit());
    usb_rig::Usb_Gadget gadget{usb_rig::Gadget_Spec{}};
    QVERIFY2(gadget.Made() && gadget.Plug(), gadget.Error().c_str());
    const std::string host_tty = gadget.Wait_For_Host_Tty();
    QVERIFY(!host_tty.empty());
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    std::string error;
    QVERIFY2(phone.start(files.args({"--tty", gadget.Phone_Tty()}), &error), error.c_str());

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
    QVERIFY2(Q(form.Memo_Text()).contains(Q(text::kFoundPort) + Q(host_tty)),
             form.Memo_Text().c_str());
    phone.stop();
    const auto flash = Read_Flash_File(files.flash);
    QVERIFY(flash.has_value() && flash->size() == 2);
    QVERIFY((*flash)[0].bytes == builder.first.data && (*flash)[1].bytes == builder.second.data);
    QCOMPARE_EQ(Host_Deviations(files.deviations), std::string());
}

QTEST_MAIN(Usb_Window_Test)
#include "usb_window_test.moc"
