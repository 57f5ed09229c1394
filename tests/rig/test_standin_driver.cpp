// The stand-in driver on the emulated register, its settings and their
// dialog, and the automation layer's texts as the program shows them.
#include "Failure.h"
#include "VirtualRegister.h"
#include "fmuStandInProps_qt.h"
#include "untError.h"
#include "untFrames.h"
#include "untProtocol.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <tuple>

namespace {

// The stand-in on a line of its own to an emulated register.
struct TOnLine {
    explicit TOnLine(std::shared_ptr<TStandInSettingsStore> Store,
                     TPropertiesDialog Dialog = nullptr)
        : Driver(std::move(Store), std::move(Dialog), std::move(Own)) {}
    TVirtualRegister Register;
    std::unique_ptr<TVirtualLine> Own = std::make_unique<TVirtualLine>(Register);
    TVirtualLine& Line = *Own;
    TStandInDriver Driver;
};

// Replies the emulated register never gives, each to the write named: each
// fails Connect with its code and text, and the line is given back.
TEST(StandInDriver, ConnectRefusesWhatIsNotItsAnswerAndClosesTheLine) {
    const std::string Enq = "\x05", Command = BuildFrame(ShortStatusCommand()), Ack = "\x06";
    const std::tuple<std::string, std::string, int32_t, std::string> Cases[] = {
        {Enq, "\x1B", sdBadAnswer, "Неверный ответ ФР: на ENQ принят 0x1B"},
        {Command, "\x15", sdBadAnswer, "Неверный ответ ФР: команда не принята, 0x15"},
        // Not read on: 256 more bytes would end in "Нет связи".
        {Command, Ack + std::string("\x00\xFF", 2), sdBadAnswer, "Неверный ответ ФР: нет STX"},
        {Command, Ack + "\x02\x02\x11\x01\x99", sdBadAnswer,
         "Неверный ответ ФР: неверная контрольная сумма"},
        {Command, Ack + BuildFrame(std::string("\x15\x00", 2)), sdBadAnswer,
         "Неверный ответ ФР: ответ не на ту команду"},
        {Command, Ack + BuildFrame("\x11\x37"), 0x37, "ФР: команда не поддерживается (0x37)"},
        {Command, Ack + BuildFrame("\x11\x01"), 0x01, "ФР: неизвестная ошибка (0x01)"},
        {Command, Ack + BuildFrame("\x11\xFF"), 0xFF, "ФР: неизвестная ошибка (0xFF)"},
        // Silence: no link after the driver's own 1000 ms, whatever the
        // register's exchange timeout.
        {Enq, "", sdNoLink, "Нет связи"},
    };
    for (const auto& [Write, Reply, Code, Text] : Cases) {
        SCOPED_TRACE(Text);
        TOnLine Rig(std::make_shared<TMemoryStore>());
        Rig.Register.Replies[Write] = Reply;
        EXPECT_EQ(Rig.Driver.Invoke("Connect").AsInt32(), Code);
        EXPECT_EQ(Rig.Driver.Invoke("ResultCode").AsInt32(), Code);
        EXPECT_EQ(Rig.Driver.Invoke("ResultCodeDescription").AsString(), Text);
        EXPECT_FALSE(Rig.Line.IsOpen());
        if (Code == sdNoLink) {
            EXPECT_EQ(Rig.Register.Now, 1000u);
        }
    }
    // Not connected, a call takes the line for itself only.
    TOnLine Rig(std::make_shared<TMemoryStore>());
    EXPECT_EQ(Rig.Driver.Invoke("SetExchangeParam").AsInt32(), sdOk);
    EXPECT_FALSE(Rig.Line.IsOpen());
    EXPECT_EQ(Rig.Line.ComNumber, 1u); // opened on the driver's settings
    // An answer the register still holds for someone else's exchange is taken
    // and acknowledged first; bytes left on the line are not its answer; a
    // member it does not have is refused.
    Rig.Register.HostWrites(Command);
    Rig.Register.Input = "\x1B";
    Rig.Line.Written.clear();
    EXPECT_EQ(Rig.Driver.Invoke("Connect").AsInt32(), sdOk);
    EXPECT_EQ(Rig.Line.Written, Enq + Ack + Command + Ack);
    EXPECT_THROW(Rig.Driver.Invoke("Beep"), EOleError);
    EXPECT_THROW(Rig.Driver.Put("Beep", 1), EOleError);
    // The system's failure keeps its text, which names it as one already.
    Rig.Register.Unplugged = true;
    EXPECT_EQ(Rig.Driver.Invoke("Connect").AsInt32(), sdSystemError);
    EXPECT_EQ(Rig.Driver.Invoke("ResultCodeDescription").AsString(),
              "Системная ошибка. Код: 5. Ошибка ввода-вывода");
}

// Each refused stored value fails the call that needs it, naming it, before
// anything reaches the register; a value put out of range is refused too.
TEST(StandInSettings, BadStoredValuesAreRefusedAndNamed) {
    const std::map<std::string, std::pair<std::string, int32_t>> Rules = {
        {"Timeout", {"0 до 2147483647", sdBadTimeout}},
        {"Baudrate", {"0 до 6", sdBadBaudrate}},
        {"ComNumber", {"1 до 255", sdBadComNumber}}};
    // 40 digits: shown whole, and too many for any integer.
    const std::pair<std::string, std::string> Cases[] = {
        {"Timeout", std::string(40, '9')}, {"Timeout", "abc"}, {"Timeout", "-5"},
        {"Timeout", "2147483648"},         {"Timeout", "1.5"}, {"Baudrate", "7"},
        {"ComNumber", "4294967297"},       {"ComNumber", "0"}};
    for (const auto& [Key, Value] : Cases) {
        const auto& [Range, Code] = Rules.at(Key);
        SCOPED_TRACE(Key + "=" + Value);
        TVirtualRig Rig;
        Rig.Store->Texts[Key] = Value;
        const std::string Refusal = "Неверная настройка драйвера " + Key + "=\"" + Value +
                                    "\": допустимо целое число от " + Range;
        EXPECT_STREQ(FailureOf<EStandInFailure>([&] { Rig.Driver->Invoke(Key); }).what(),
                     Refusal.c_str());
        EXPECT_EQ(Rig.Driver->Invoke(Key == "Timeout" ? "SetExchangeParam" : "Connect").AsInt32(),
                  Code);
        EXPECT_EQ(Rig.Driver->Invoke("ResultCodeDescription").AsString(), Refusal);
        EXPECT_THROW(Rig.Driver->Put(Key, Key == "Baudrate" ? 7 : -1), EStandInFailure);
    }
    // A longer value is cut short, never inside a UTF-8 character.
    EXPECT_EQ(StandInSettingError("Timeout", std::string(39, '9') + "ЖЖ"),
              "Неверная настройка драйвера Timeout=\"" + std::string(39, '9') +
                  "…\": допустимо целое число от 0 до 2147483647");
}

template <class T> T& Child(QDialog& Dialog, const char* Name) {
    return *Dialog.findChild<T*>(Name);
}

void Press(QDialog& Dialog, QDialogButtonBox::StandardButton Which) {
    Dialog.findChild<QDialogButtonBox*>()->button(Which)->click();
}

// The driver's ShowProperties with Script acting in its dialog; a dialog
// that a fault leaves open is cancelled, so that the test fails rather than
// hangs.
int32_t ShowProperties(TStandInDriver& Driver, const std::function<void(QDialog&)>& Script) {
    QTimer::singleShot(0, [&] {
        auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(Dialog, nullptr);
        Script(*Dialog);
        if (Dialog->isVisible())
            Dialog->reject();
    });
    return Driver.Invoke("ShowProperties").AsInt32();
}

// No port is assumed, so none is written until the operator picks one; the
// dialog opens on the stored values, a refused one shown as it is, not on
// those the program put for its run; Cancel takes nothing; OK takes only
// valid values and saves only what the operator changed.
TEST(StandInSettings, TheDialogEditsTheStoredSettings) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int Argc = 1;
    char Name[] = "unit_tests";
    char* Argv[] = {Name, nullptr};
    QApplication App(Argc, Argv);
    QTemporaryDir Folder;
    const QString Path = Folder.filePath("driver.ini");
    std::ofstream(Path.toStdString(), std::ios::binary) << "[General]\nBaudrate=7\n";
    TSettingTexts Shown;
    TOnLine Rig(std::make_shared<TIniSettingsStore>(Path), [&](TSettingTexts& Settings) {
        Shown = Settings;
        return ShowStandInProperties(Settings);
    });
    Rig.Driver.Put("Timeout", 100000); // the run's, for this process only
    const auto Refusal = [](QDialog& Dialog) {
        return Child<QLabel>(Dialog, "lblError").text().toStdString();
    };
    // Typed, then cancelled: nothing is taken.
    const auto Cancelled = [&](QDialog& Dialog) {
        // Every field, the refusal and the buttons have their place.
        for (const QWidget* Part :
             {Dialog.findChild<QWidget*>("edtComNumber"), Dialog.findChild<QWidget*>("cbBaudrate"),
              Dialog.findChild<QWidget*>("edtTimeout"), Dialog.findChild<QWidget*>("lblError"),
              static_cast<QWidget*>(Dialog.findChild<QDialogButtonBox*>())})
            EXPECT_GE(Dialog.layout()->indexOf(Part), 0);
        auto& cbBaudrate = Child<QComboBox>(Dialog, "cbBaudrate");
        EXPECT_EQ(cbBaudrate.currentIndex(), -1);
        EXPECT_EQ(cbBaudrate.placeholderText(), "7");
        EXPECT_EQ(Refusal(Dialog),
                  "Не задана настройка драйвера ComNumber: допустимо целое число от 1 до 255");
        Child<QLineEdit>(Dialog, "edtComNumber").setText("7");
        cbBaudrate.setCurrentIndex(0);
        Press(Dialog, QDialogButtonBox::Cancel);
    };
    EXPECT_EQ(ShowProperties(Rig.Driver, Cancelled), sdOk);
    EXPECT_EQ(Shown, (TSettingTexts{{"ComNumber", ""}, {"Baudrate", "7"}, {"Timeout", "150"}}));
    EXPECT_EQ(Rig.Driver.Invoke("Connect").AsInt32(), sdBadComNumber);
    // OK stays refused until every value is valid.
    const auto Confirmed = [&](QDialog& Dialog) {
        auto& edtTimeout = Child<QLineEdit>(Dialog, "edtTimeout");
        Child<QLineEdit>(Dialog, "edtComNumber").setText(" 09 ");
        Press(Dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(Refusal(Dialog), StandInSettingError("Baudrate", "7"));
        Child<QComboBox>(Dialog, "cbBaudrate").setCurrentIndex(0);
        edtTimeout.setText("abc");
        Press(Dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(Refusal(Dialog), StandInSettingError("Timeout", "abc"));
        edtTimeout.setText("150");
        Press(Dialog, QDialogButtonBox::Ok);
    };
    EXPECT_EQ(ShowProperties(Rig.Driver, Confirmed), sdOk);
    EXPECT_EQ(Rig.Driver.Invoke("Connect").AsInt32(), sdOk);
    EXPECT_EQ(Rig.Line.ComNumber, 9u);
    EXPECT_EQ(Rig.Line.BaudRate, 2400u);
    // Connected, the line stays open for the next call.
    EXPECT_EQ(Rig.Driver.Invoke("SetExchangeParam").AsInt32(), sdOk);
    EXPECT_TRUE(Rig.Line.IsOpen());
    EXPECT_EQ(TIniSettingsStore(Path).LoadTexts(),
              (TSettingTexts{{"ComNumber", "9"}, {"Baudrate", "0"}}));
    EXPECT_EQ(Rig.Driver.Invoke("Timeout").AsInt32(), 100000);
    // Each of the files below is written once: Qt caches an INI it has read
    // and rereads it only when its size or time changed, so a rewrite of the
    // same size within one tick would read as the old one.
    const auto Written = [&](const char* Name, const char* Text) {
        const QString File = Folder.filePath(Name);
        std::ofstream(File.toStdString(), std::ios::binary) << Text;
        return File;
    };
    // A decimal comma, which the INI format reads as a list, stays as typed.
    EXPECT_EQ(TIniSettingsStore(Written("comma.ini", "[General]\nTimeout=1,5\n")).LoadTexts(),
              (TSettingTexts{{"Timeout", "1,5"}}));
    // A rate not stored at all is 9600.
    const QString Unrated = Written("unrated.ini", "[General]\nComNumber=9\n");
    TOnLine Fresh(std::make_shared<TIniSettingsStore>(Unrated));
    EXPECT_EQ(Fresh.Driver.Invoke("Connect").AsInt32(), sdOk);
    EXPECT_EQ(Fresh.Line.BaudRate, 9600u);
}

// Where the system has no OLE: a class nobody registered, and one that gives
// no object, fail as creating them fails under Windows.
TEST(Automation, CreatingWhatIsNotThereFails) {
    EXPECT_STREQ(FailureOf<EOleError>([] { TAutoObject::Create("Addin.Nobody"); }).what(),
                 "Недопустимая строка с указанием класса (0x800401F3 CO_E_CLASSSTRING): "
                 "\"Addin.Nobody\"");
    RegisterAutoClass("Addin.Nobody", [] { return nullptr; });
    EXPECT_EQ(FailureOf<EOleError>([] { TAutoObject::Create("Addin.Nobody"); }).Result,
              hrNoInterface);
    UnregisterAutoClass("Addin.Nobody");
}

} // namespace
