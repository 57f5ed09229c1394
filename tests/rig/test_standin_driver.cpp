// The stand-in driver on the emulated register, its settings and their
// dialog, and the automation layer's texts as the program shows them.
#include "Failure.h"
#include "ScriptedLine.h"
#include "TempPortFolder.h"
#include "VirtualRegister.h"
#include "fmuStandInProps.h"
#include "untError.h"
#include "untFrames.h"
#include "untTimeoutTest.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace {

// Answers the emulated register never gives: each fails Connect with its
// code and text, and the line is given back.
TEST(StandInDriver, ConnectRefusesWhatIsNotItsAnswerAndClosesTheLine) {
    const std::string Taken = "\x15\x06"; // NAK to ENQ, ACK to the command
    const struct {
        std::string Answers;
        int32_t Code;
        std::string Text;
    } Cases[] = {
        // Not read on: 256 more bytes would end in "Нет связи".
        {Taken + std::string("\x00\xFF", 2), sdBadAnswer, "Неверный ответ ФР: нет STX"},
        {Taken + "\x02\x02\x11\x01\x99", sdBadAnswer,
         "Неверный ответ ФР: неверная контрольная сумма"},
        {Taken + BuildFrame(std::string("\x15\x00", 2)), sdBadAnswer,
         "Неверный ответ ФР: ответ не на ту команду"},
        {"\x15\x15", sdBadAnswer, "Неверный ответ ФР: команда не принята, 0x15"},
        {Taken + BuildFrame("\x11\x37"), 0x37, "ФР: команда не поддерживается (0x37)"},
        // A system failure keeps its own text, with one prefix.
        {"", sdSystemError, EOSError(5, "Ошибка ввода-вывода").what()},
    };
    for (const auto& [Answers, Code, Text] : Cases) {
        SCOPED_TRACE(Text);
        auto Line = std::make_unique<TScriptedLine>(Answers);
        const TScriptedLine& Seen = *Line;
        if (Answers.empty())
            Line->OpenFailure = std::make_exception_ptr(EOSError(5, "Ошибка ввода-вывода"));
        TStandInDriver Driver(std::make_shared<TMemoryStore>(), nullptr, std::move(Line));
        EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), Code);
        EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(), Text);
        EXPECT_FALSE(Seen.IsOpen());
    }
}

TEST(StandInDriver, EachBaudrateIndexReachesTheLine) {
    auto Line = std::make_unique<TScriptedLine>("");
    const TScriptedLine& Seen = *Line;
    TStandInDriver Driver(std::make_shared<TMemoryStore>(), nullptr, std::move(Line));
    const uint32_t Rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int32_t Index = 0; Index < 7; ++Index) {
        Driver.Put("Baudrate", Index);
        Driver.Invoke("Connect");
        EXPECT_EQ(Seen.BaudRate, Rates[Index]) << Index;
    }
    EXPECT_THROW(Driver.Put("Baudrate", 7), EStandInFailure);
    EXPECT_THROW(Driver.Put("Timeout", -1), EStandInFailure);
}

// The INI as an operator may have edited it, one key's value replaced.
std::string Ini(const std::string& Key, const std::string& Value) {
    std::string Text = "[General]\nComNumber=5\nBaudrate=2\nTimeout=150\n";
    const std::size_t At = Text.find(Key + "=") + Key.size() + 1;
    return Text.replace(At, Text.find('\n', At) - At, Value);
}

TEST(StandInSettings, BadStoredValuesAreRefusedAndNamed) {
    TTempPortFolder Folder("ormant-standin-ini-");
    int Written = 0;
    // Per key: the range the refusal names and the code of the call that
    // needs the value.
    const std::map<std::string, std::pair<std::string, int32_t>> Rules = {
        {"Timeout", {"0 до 2147483647", sdBadTimeout}},
        {"Baudrate", {"0 до 6", sdBadBaudrate}},
        {"ComNumber", {"1 до 255", sdBadComNumber}}};
    const std::pair<std::string, std::string> Cases[] = {
        {"Timeout", "99999999999"}, {"Timeout", "abc"}, {"Timeout", "-5"},
        {"Timeout", "2147483648"},  {"Timeout", ""},    {"Timeout", "1.5"},
        {"Baudrate", "abc"},        {"Baudrate", "7"},  {"ComNumber", "4294967297"},
        {"ComNumber", "0"}};
    for (const auto& [Key, Value] : Cases) {
        const auto& [Range, Code] = Rules.at(Key);
        SCOPED_TRACE(Key + "=" + Value);
        // A file of its own each: QSettings keeps what it read of a file
        // whose size and time have not changed.
        const auto Path = Folder.Path / ("driver" + std::to_string(++Written) + ".ini");
        const std::string Text = Ini(Key, Value);
        std::ofstream(Path, std::ios::binary) << Text;
        const std::string Refusal = "Неверная настройка драйвера " + Key + "=\"" + Value +
                                    "\": допустимо целое число от " + Range;
        TVirtualRegister Register;
        auto Line = std::make_unique<TVirtualLine>(Register);
        const TVirtualLine& Seen = *Line;
        TStandInDriver Driver(std::make_shared<TIniSettingsStore>(QString::fromStdString(Path)),
                              nullptr, std::move(Line));
        EXPECT_STREQ(FailureOf<EStandInFailure>([&] { Driver.Invoke(Key); }).what(),
                     Refusal.c_str());
        // The call that needs the value fails naming it, before the line.
        EXPECT_EQ(Driver.Invoke(Key == "Timeout" ? "SetExchangeParam" : "Connect").AsInt32(), Code);
        EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(), Refusal);
        EXPECT_EQ(Seen.Opens, 0);
    }
}

// No port is assumed, so nothing is written until the operator picks one;
// the dialog opens on the stored values, not on those the program wrote for
// its run, and OK saves only what the operator changed, and only valid.
TEST(StandInSettings, TheDialogEditsTheStoredSettings) {
    TTempPortFolder Folder("ormant-standin-ini-");
    const QString Path = QString::fromStdString(Folder.Path / "driver.ini");
    std::ofstream(Path.toStdString(), std::ios::binary) << "[General]\nTimeout=200\n";
    auto Line = std::make_unique<TScriptedLine>("");
    const TScriptedLine& Seen = *Line;
    TSettingTexts Shown;
    std::string Typed;
    bool Ok = false;
    TStandInDriver Driver(
        std::make_shared<TIniSettingsStore>(Path),
        [&](TSettingTexts& S) {
            Shown = S;
            S["ComNumber"] = Typed; // typed, whichever button then closes it
            return Ok;
        },
        std::move(Line));
    Driver.Put("Timeout", 100000); // the run's, for this process only
    const struct {
        const char* Typed;
        bool Ok;
        int32_t Code;        // of ShowProperties
        int32_t ConnectCode; // then of Connect
    } Steps[] = {{"7", false, sdOk, sdBadComNumber},
                 {"-1", true, sdBadComNumber, sdBadComNumber},
                 {"09", true, sdOk, sdNoLink}};
    for (const auto& Step : Steps) {
        SCOPED_TRACE(Step.Typed);
        Typed = Step.Typed;
        Ok = Step.Ok;
        EXPECT_EQ(Driver.Invoke("ShowProperties").AsInt32(), Step.Code);
        EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), Step.ConnectCode);
    }
    EXPECT_EQ(Shown, (TSettingTexts{{"ComNumber", ""}, {"Baudrate", "2"}, {"Timeout", "200"}}));
    EXPECT_EQ(StandInSettingError("ComNumber", ""),
              "Не задана настройка драйвера ComNumber: допустимо целое число от 1 до 255");
    EXPECT_EQ(Seen.ComNumber, 9u);
    EXPECT_EQ(TIniSettingsStore(Path).LoadTexts(),
              (TSettingTexts{{"ComNumber", "9"}, {"Timeout", "200"}}));
    EXPECT_EQ(Driver.Invoke("Timeout").AsInt32(), 100000);
}

TEST(StandInSettings, ARunWithARefusedSettingLeavesTheRegisterAlone) {
    const std::string Refusal = "Неверная настройка драйвера ";
    const std::pair<const char*, std::vector<std::string>> Cases[] = {
        // The run reads the timeout first, before it says anything.
        {"Timeout", {Refusal + "Timeout=\"abc\": допустимо целое число от 0 до 2147483647"}},
        {"Baudrate",
         {"Подключение к ФР", "Ошибка драйвера: (-5) " + Refusal +
                                  "Baudrate=\"abc\": допустимо целое число от 0 до 6"}},
    };
    for (const auto& [Key, Lines] : Cases) {
        TVirtualRig Rig;
        Rig.Store->Texts[Key] = "abc";
        const uint32_t Before = Rig.Register.Core.RequestedTimeout();
        TTimeoutTest Test(Rig);
        Rig.RunAsStartButton([&] { Test.RunTest(); });
        EXPECT_EQ(Rig.Lines.Lines, Lines);
        EXPECT_EQ(Rig.Register.Core.RequestedTimeout(), Before);
        EXPECT_EQ(Rig.Store->Saves, 0);
    }
}

// Runs the dialog over Settings with Script acting in it; a dialog that the
// script leaves open is cancelled, so that a fault fails rather than hangs.
bool RunDialog(TSettingTexts& Settings, const std::function<void(QDialog&)>& Script) {
    QTimer::singleShot(0, [&] {
        auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(Dialog, nullptr);
        Script(*Dialog);
        if (Dialog->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open";
            Dialog->reject();
        }
    });
    return ShowStandInProperties(Settings);
}

TEST(StandInSettings, DialogShowsARefusedValueAndTakesOnlyValidOnes) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int Argc = 1;
    char Name[] = "unit_tests";
    char* Argv[] = {Name, nullptr};
    QApplication App(Argc, Argv);
    TSettingTexts Settings{{"ComNumber", "5"}, {"Baudrate", "7"}, {"Timeout", "150"}};
    const TSettingTexts Stored = Settings;
    const auto Button = [](QDialog& Dialog, QDialogButtonBox::StandardButton Which) {
        return Dialog.findChild<QDialogButtonBox*>()->button(Which);
    };
    // Typed, then cancelled: nothing is taken.
    EXPECT_FALSE(RunDialog(Settings, [&](QDialog& Dialog) {
        Dialog.findChild<QLineEdit*>("edtComNumber")->setText("7");
        Dialog.findChild<QComboBox*>("cbBaudrate")->setCurrentIndex(0);
        Button(Dialog, QDialogButtonBox::Cancel)->click();
    }));
    EXPECT_EQ(Settings, Stored);
    EXPECT_TRUE(RunDialog(Settings, [&](QDialog& Dialog) {
        auto* cbBaudrate = Dialog.findChild<QComboBox*>("cbBaudrate");
        auto* edtTimeout = Dialog.findChild<QLineEdit*>("edtTimeout");
        auto* lblError = Dialog.findChild<QLabel*>("lblError");
        QPushButton* Ok = Button(Dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(cbBaudrate->currentIndex(), -1);
        EXPECT_EQ(cbBaudrate->placeholderText(), "7");
        EXPECT_EQ(lblError->text().toStdString(),
                  "Неверная настройка драйвера Baudrate=\"7\": допустимо целое число от 0 до 6");
        Ok->click();
        EXPECT_TRUE(Dialog.isVisible());
        cbBaudrate->setCurrentIndex(0);
        edtTimeout->setText("abc");
        Ok->click();
        EXPECT_TRUE(Dialog.isVisible());
        EXPECT_EQ(lblError->text().toStdString(), "Неверная настройка драйвера Timeout=\"abc\": "
                                                  "допустимо целое число от 0 до 2147483647");
        edtTimeout->setText(" 2000 ");
        Ok->click();
    }));
    EXPECT_EQ(Settings,
              (TSettingTexts{{"ComNumber", "5"}, {"Baudrate", "0"}, {"Timeout", "2000"}}));
}

TEST(Automation, DriverHolderCreatesOnceAndRetriesAfterAFailedCreation) {
    TDriverHolder Holder;
    EXPECT_STREQ(FailureOf<EOleError>([&] { Holder.GetDriver(); }).what(),
                 "Недопустимая строка с указанием класса (0x800401F3 "
                 "CO_E_CLASSSTRING): \"Addin.Ormant\"");
    int Created = 0;
    RegisterAutoClass(DriverProgId, [&] {
        ++Created;
        return std::make_shared<TStandInDriver>(std::make_shared<TMemoryStore>(), nullptr);
    });
    Holder.GetDriver().Put("Timeout", 7);
    EXPECT_EQ(Holder.GetDriver().Get("Timeout").AsInt32(), 7);
    EXPECT_EQ(Created, 1);
    UnregisterAutoClass(DriverProgId);
}

} // namespace
