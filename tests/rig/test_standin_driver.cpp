// The stand-in driver on the emulated register, its settings and their
// dialog, and the automation layer's texts as the program shows them.
#include "Failure.h"
#include "TempPortFolder.h"
#include "VirtualRegister.h"
#include "fmuStandInProps.h"
#include "untError.h"
#include "untTimeoutTest.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>

namespace {

// A frame whose checksum is wrong is the driver's to refuse: the frame
// reader takes whatever frame comes.
TEST(StandInDriver, AnswerWithABadChecksumIsRefused) {
    TVirtualRegister Register({.Fault = emu::TFault::BadChecksum});
    TStandInDriver Driver(std::make_shared<TMemoryStore>(), nullptr,
                          std::make_unique<TVirtualLine>(Register));
    EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), -4);
    EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(),
              "Неверный ответ ФР: неверная контрольная сумма");
}

// A first byte that is not STX fails at once: the length byte after it is
// no length, and waiting for that many bytes would only end in a timeout.
TEST(StandInDriver, AnswerWithoutStxFailsWithoutReadingOn) {
    struct TScriptedLine final : TSerialLine {
        std::string Input{"\x15\x06\x00\xFF", 4}; // NAK to ENQ, ACK to the command
        bool IsOpen() const override { return true; }
        void Open() override {}
        void Close() noexcept override {}
        void Write(const std::string&) override {}
        void Read(uint32_t Count, std::string& Data) override {
            if (Input.size() < Count)
                throw std::runtime_error("Нет связи");
            Data = Input.substr(0, Count);
            Input.erase(0, Count);
        }
        void PurgeInput() override {}
    };
    TStandInDriver Driver(std::make_shared<TMemoryStore>(), nullptr,
                          std::make_unique<TScriptedLine>());
    EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), sdBadAnswer);
    EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(), "Неверный ответ ФР: нет STX");
}

TEST(StandInDriver, PropertiesSavedOnlyFromTheDialogAndOnlyValid) {
    auto Store = std::make_shared<TMemoryStore>();
    Store->Settings = {5, 2, 150};
    std::optional<std::string> DialogComNumber; // none: cancelled
    TStandInDriver Driver(Store, [&](TSettingTexts& S) {
        if (DialogComNumber)
            S["ComNumber"] = *DialogComNumber;
        return DialogComNumber.has_value();
    });
    const auto Call = [&](const char* Name) { return Driver.Invoke(Name).AsInt32(); };
    EXPECT_THROW(Driver.Put("Timeout", -1), EStandInFailure);
    EXPECT_THROW(Driver.Put("Baudrate", 7), EStandInFailure);
    EXPECT_EQ(Call("ShowProperties"), 0);
    // A dialog that lets a refused value through saves nothing.
    DialogComNumber = "-1";
    EXPECT_EQ(Call("ShowProperties"), -8);
    EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(),
              "Неверная настройка драйвера ComNumber=\"-1\": допустимо целое число от 1 до 255");
    EXPECT_EQ(Store->Saves, 0);
    EXPECT_EQ(Call("ComNumber"), 5);
    DialogComNumber = "09";
    EXPECT_EQ(Call("ShowProperties"), 0);
    EXPECT_EQ(Call("ComNumber"), 9);
    EXPECT_EQ(Store->Texts,
              (TSettingTexts{{"ComNumber", "9"}, {"Baudrate", "2"}, {"Timeout", "150"}}));
}

TEST(StandInSystemFailure, KeepsItsOwnTextWithOnePrefix) {
    struct TFailingLine final : TSerialLine {
        bool IsOpen() const override { return false; }
        void Open() override { throw EOSError(5, "Ошибка ввода-вывода"); }
        void Close() noexcept override {}
        void Write(const std::string&) override { Open(); }
        void Read(uint32_t, std::string&) override {}
        void PurgeInput() override {}
    };
    TStandInDriver Driver(std::make_shared<TMemoryStore>(), nullptr,
                          std::make_unique<TFailingLine>());
    EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), sdSystemError);
    EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(),
              EOSError(5, "Ошибка ввода-вывода").what());
}

std::string FileBytes(const std::filesystem::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Bytes;
    Bytes << In.rdbuf();
    return Bytes.str();
}

// The INI as an operator may have edited it, one key's value replaced.
std::string Ini(const std::string& Key, const std::string& Value) {
    std::string Text = "[General]\nComNumber=5\nBaudrate=2\nTimeout=150\n";
    const std::size_t At = Text.find(Key + "=") + Key.size() + 1;
    return Text.replace(At, Text.find('\n', At) - At, Value);
}

TEST(StandInSettings, BadStoredValuesAreRefusedNamedAndNeverWrittenBack) {
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
        // What the run does with a readable timeout is never saved either.
        Driver.Put("Timeout", 100000);
        EXPECT_EQ(FileBytes(Path), Text);
    }
}

// No port is assumed: until the operator picks one nothing is written, and
// the dialog opens with the port empty.
TEST(StandInSettings, AMissingPortIsNotSetAndOnlyTheDialogSetsIt) {
    TTempPortFolder Folder("ormant-standin-ini-");
    const auto Path = Folder.Path / "noport.ini";
    std::ofstream(Path, std::ios::binary) << "[General]\nTimeout=200\n";
    TVirtualRegister Register;
    auto Line = std::make_unique<TVirtualLine>(Register);
    const TVirtualLine& Seen = *Line;
    TSettingTexts Shown;
    TStandInDriver Driver(
        std::make_shared<TIniSettingsStore>(QString::fromStdString(Path)),
        [&](TSettingTexts& S) {
            Shown = S;
            S["ComNumber"] = "3";
            return true;
        },
        std::move(Line));
    const std::string NotSet =
        "Не задана настройка драйвера ComNumber: допустимо целое число от 1 до 255";
    EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), sdBadComNumber);
    EXPECT_EQ(Driver.Invoke("ResultCodeDescription").AsString(), NotSet);
    EXPECT_EQ(Seen.Opens, 0);
    EXPECT_EQ(Driver.Invoke("Baudrate").AsInt32(), 2);
    EXPECT_EQ(Driver.Invoke("ShowProperties").AsInt32(), 0);
    EXPECT_EQ(Shown, (TSettingTexts{{"ComNumber", ""}, {"Baudrate", "2"}, {"Timeout", "200"}}));
    EXPECT_EQ(StandInSettingError("ComNumber", ""), NotSet);
    EXPECT_EQ(Driver.Invoke("Connect").AsInt32(), 0);
    EXPECT_EQ(Seen.ComNumber, 3u);
}

TEST(StandInSettings, AKilledRunLeavesTheStoredTimeout) {
    TTempPortFolder Folder("ormant-standin-ini-");
    const auto Path = Folder.Path / "killed.ini";
    const std::string Written = Ini("Timeout", "150");
    std::ofstream(Path, std::ios::binary) << Written;
    TVirtualRegister Register;
    {
        TStandInDriver Driver(std::make_shared<TIniSettingsStore>(QString::fromStdString(Path)),
                              nullptr, std::make_unique<TVirtualLine>(Register));
        EXPECT_EQ(Driver.Invoke("Timeout").AsInt32(), 150);
        Driver.Put("Timeout", 100000);
        EXPECT_EQ(Driver.Invoke("SetExchangeParam").AsInt32(), 0);
        EXPECT_EQ(Driver.Invoke("Timeout").AsInt32(), 100000);
    } // dropped without the restore, as when the program is killed
    EXPECT_EQ(Register.Core.ExchangeTimeout(), 100000u);
    EXPECT_EQ(FileBytes(Path), Written);
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

TEST(StandInSettings, DialogShowsARefusedValueAndTakesOnlyValidOnes) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int Argc = 1;
    char Name[] = "unit_tests";
    char* Argv[] = {Name, nullptr};
    QApplication App(Argc, Argv);
    TSettingTexts Settings{{"ComNumber", "5"}, {"Baudrate", "7"}, {"Timeout", "150"}};
    QTimer::singleShot(0, [] {
        QWidget* Dialog = QApplication::activeModalWidget();
        ASSERT_NE(Dialog, nullptr);
        auto* cbBaudrate = Dialog->findChild<QComboBox*>("cbBaudrate");
        auto* edtTimeout = Dialog->findChild<QLineEdit*>("edtTimeout");
        auto* lblError = Dialog->findChild<QLabel*>("lblError");
        QPushButton* Ok = Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        EXPECT_EQ(cbBaudrate->currentIndex(), -1);
        EXPECT_EQ(cbBaudrate->currentText(), "");
        EXPECT_EQ(cbBaudrate->placeholderText(), "7");
        EXPECT_EQ(lblError->text().toStdString(),
                  "Неверная настройка драйвера Baudrate=\"7\": допустимо целое число от 0 до 6");
        Ok->click();
        EXPECT_TRUE(Dialog->isVisible());
        cbBaudrate->setCurrentIndex(6);
        edtTimeout->setText("abc");
        Ok->click();
        EXPECT_TRUE(Dialog->isVisible());
        EXPECT_EQ(lblError->text().toStdString(), "Неверная настройка драйвера Timeout=\"abc\": "
                                                  "допустимо целое число от 0 до 2147483647");
        edtTimeout->setText(" 2000 ");
        Ok->click();
        EXPECT_FALSE(Dialog->isVisible());
    });
    ASSERT_TRUE(ShowStandInProperties(Settings));
    EXPECT_EQ(Settings,
              (TSettingTexts{{"ComNumber", "5"}, {"Baudrate", "6"}, {"Timeout", "2000"}}));
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
