// The stand-in driver on the emulated register, its settings and their
// dialog.
#include "Failure.h"
#include "VirtualRegister.h"
#include "fmuStandInProps_qt.h"
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

namespace {

// The stand-in on a line of its own to an emulated register.
struct TOnLine {
    explicit TOnLine(
        std::shared_ptr<TStandInSettingsStore> Store = std::make_shared<TMemoryStore>(),
        TPropertiesDialog Dialog = nullptr)
        : Driver(std::move(Store), std::move(Dialog), std::move(Own)) {}
    int32_t Call(const char* Member) { return Driver.Invoke(Member).AsInt32(); }
    std::string Description() { return Driver.Invoke(dmResultCodeDescription).AsString(); }
    TVirtualRegister Register;
    std::unique_ptr<TVirtualLine> Own = std::make_unique<TVirtualLine>(Register);
    TVirtualLine& Line = *Own;
    TStandInDriver Driver;
};

const std::string Enq = "\x05", Ack = "\x06", Command = BuildFrame(ShortStatusCommand());

// Replies the emulated register never gives, each to the write named: each
// fails Connect with its code and text, and the line is given back.
TEST(StandInDriver, ConnectRefusesWhatIsNotItsAnswerAndClosesTheLine) {
    const struct {
        std::string Write, Reply;
        int32_t Code;
        std::string Text;
    } Cases[] = {
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
        {Enq, "", peNoLink, "Нет связи"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Text);
        TOnLine Rig;
        Rig.Register.Replies[C.Write] = C.Reply;
        EXPECT_EQ(Rig.Call(dmConnect), C.Code);
        EXPECT_EQ(Rig.Call(dmResultCode), C.Code);
        EXPECT_EQ(Rig.Description(), C.Text);
        EXPECT_FALSE(Rig.Line.IsOpen());
    }
}

// Silence: no link after the driver's own 1000 ms, whatever the register's
// exchange timeout.
TEST(StandInDriver, SilenceIsNoLinkAfterASecond) {
    TOnLine Rig;
    Rig.Register.Replies[Enq] = "";
    EXPECT_EQ(Rig.Call(dmConnect), peNoLink);
    EXPECT_EQ(Rig.Register.Now, 1000u);
}

// Calls that the register answers, each after Before on a fresh rig.
TEST(StandInDriver, CallsUseTheLineAsTheyShould) {
    const struct {
        const char* Behaviour;
        std::function<void(TOnLine&)> Before;
        std::vector<const char*> Calls; // in turn; the last one's result is checked
        int32_t Code;
        std::string Description;
        bool LineOpen;
        std::string Written; // from Before on; "" for not checked
    } Cases[] = {
        {"not connected, a call takes the line for itself only",
         nullptr,
         {dmSetExchangeParam},
         sdOk,
         "Ошибок нет",
         false,
         ""},
        {"connected, the line stays open",
         nullptr,
         {dmConnect, dmSetExchangeParam},
         sdOk,
         "Ошибок нет",
         true,
         ""},
        {"an answer held for someone else is taken and acknowledged first, and bytes left on "
         "the line are not the answer",
         [](TOnLine& Rig) {
             Rig.Register.HostWrites(Command);
             Rig.Register.Input += "\x1B";
         },
         {dmConnect},
         sdOk,
         "Ошибок нет",
         true,
         Enq + Ack + Command + Ack},
        {"the system's failure keeps its text, which names it as one already",
         [](TOnLine& Rig) { Rig.Register.Unplugged = true; },
         {dmConnect},
         sdSystemError,
         "Системная ошибка. Код: 5. Ошибка ввода-вывода",
         false,
         ""},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Behaviour);
        auto Store = std::make_shared<TMemoryStore>();
        Store->Settings = {9, 0, 150};
        TOnLine Rig(Store);
        if (C.Before)
            C.Before(Rig);
        int32_t Code = -100;
        for (const char* Member : C.Calls)
            Code = Rig.Call(Member);
        EXPECT_EQ(Code, C.Code);
        EXPECT_EQ(Rig.Description(), C.Description);
        EXPECT_EQ(Rig.Line.IsOpen(), C.LineOpen);
        EXPECT_EQ(Rig.Line.ComNumber, 9u);
        EXPECT_EQ(Rig.Line.BaudRate, 2400u);
        if (!C.Written.empty()) {
            EXPECT_EQ(Rig.Line.Written, C.Written);
        }
    }
}

// A member it does not have is refused as automation refuses it; a setting
// put is this object's only, and one out of range is refused.
TEST(StandInDriver, PutChangesTheObjectOnlyAndRefusesWhatIsNotThere) {
    TOnLine Unknown;
    EXPECT_EQ(FailureOf<EOleError>([&] { Unknown.Driver.Invoke("Beep"); }).Result, hrUnknownName);
    EXPECT_EQ(FailureOf<EOleError>([&] { Unknown.Driver.Put("Beep", 1); }).Result, hrUnknownName);
    const struct {
        const char* Key;
        int32_t Value;
        int32_t Code; // 0: taken
    } Cases[] = {
        {dmTimeout, 100000, sdOk},      {dmTimeout, -1, sdBadTimeout},
        {dmBaudrate, 7, sdBadBaudrate}, {dmComNumber, 256, sdBadComNumber},
        {dmComNumber, 255, sdOk},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Key) + "=" + std::to_string(C.Value));
        auto Store = std::make_shared<TMemoryStore>();
        TOnLine Rig(Store);
        if (C.Code == sdOk) {
            Rig.Driver.Put(C.Key, C.Value);
            EXPECT_EQ(Rig.Call(C.Key), C.Value);
            EXPECT_TRUE(Store->Texts.empty()) << "saved";
        } else {
            EXPECT_EQ(FailureOf<EDriverError>([&] { Rig.Driver.Put(C.Key, C.Value); }).Code,
                      C.Code);
        }
    }
}

// Each refused stored value fails the call that needs it, naming it, before
// anything reaches the register.
TEST(StandInSettings, BadStoredValuesAreRefusedAndNamed) {
    const struct {
        const char* Key;
        std::string Value;
        const char* Call;
        int32_t Code;
        std::string Allowed;
    } Cases[] = {
        {dmTimeout, "abc", dmSetExchangeParam, sdBadTimeout, "0 до 2147483647"},
        {dmTimeout, "-5", dmSetExchangeParam, sdBadTimeout, "0 до 2147483647"},
        {dmTimeout, "2147483648", dmSetExchangeParam, sdBadTimeout, "0 до 2147483647"},
        {dmTimeout, "1.5", dmSetExchangeParam, sdBadTimeout, "0 до 2147483647"},
        {dmBaudrate, "7", dmConnect, sdBadBaudrate, "0 до 6"},
        {dmComNumber, "4294967297", dmConnect, sdBadComNumber, "1 до 255"},
        {dmComNumber, "0", dmConnect, sdBadComNumber, "1 до 255"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Key) + "=" + C.Value);
        auto Store = std::make_shared<TMemoryStore>();
        Store->Texts[C.Key] = C.Value;
        TOnLine Rig(Store);
        const std::string Refusal = std::string("Неверная настройка драйвера ") + C.Key + "=\"" +
                                    C.Value + "\": допустимо целое число от " + C.Allowed;
        const auto Failure = FailureOf<EDriverError>([&] { Rig.Driver.Invoke(C.Key); });
        EXPECT_EQ(Failure.what(), Refusal);
        EXPECT_EQ(Failure.Code, C.Code);
        EXPECT_EQ(Rig.Call(C.Call), C.Code);
        EXPECT_EQ(Rig.Description(), Refusal);
        EXPECT_EQ(Rig.Line.Opens, 0);
    }
}

// The INI file as the stand-in reads it: what is not stored takes its
// default, the port none; a decimal comma, which the format reads as a list,
// is refused as typed.
TEST(StandInSettings, TheIniFileIsReadAsWritten) {
    QTemporaryDir Folder;
    const struct {
        const char* File;
        const char* Text;
        TSettingTexts Loaded;
        int32_t Connect;
        uint32_t BaudRate; // of the line; 0: not opened
    } Cases[] = {
        {"unrated.ini", "[General]\nComNumber=9\n", {{dmComNumber, "9"}}, sdOk, 9600},
        {"portless.ini", "[General]\nTimeout=150\n", {{dmTimeout, "150"}}, sdBadComNumber, 0},
        {"comma.ini",
         "[General]\nComNumber=9\nTimeout=1,5\n",
         {{dmComNumber, "9"}, {dmTimeout, "1,5"}},
         sdOk,
         9600},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Text);
        const QString Path = Folder.filePath(C.File);
        std::ofstream(Path.toStdString(), std::ios::binary) << C.Text;
        EXPECT_EQ(TIniSettingsStore(Path).LoadTexts(), C.Loaded);
        TOnLine Rig(std::make_shared<TIniSettingsStore>(Path));
        EXPECT_EQ(Rig.Call(dmConnect), C.Connect);
        EXPECT_EQ(Rig.Line.BaudRate, C.BaudRate);
    }
}

template <class T> T& Child(QDialog& Dialog, const char* Name) {
    return *Dialog.findChild<T*>(Name);
}

void Press(QDialog& Dialog, QDialogButtonBox::StandardButton Which) {
    Dialog.findChild<QDialogButtonBox*>()->button(Which)->click();
}

// The dialog over a file that holds a rate the list does not have and no
// port, opened while the program has put its run's timeout: the operator
// acts, the dialog shows a refusal or closes. It opens on the stored values,
// a refused one shown as it is; Cancel takes nothing; OK takes only valid
// values, saves all three and they apply at once.
TEST(StandInSettings, TheDialogEditsTheStoredSettings) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int Argc = 1;
    char Name[] = "unit_tests";
    char* Argv[] = {Name, nullptr};
    QApplication App(Argc, Argv);
    const auto Type = [](const char* ComNumber, int BaudIndex, const char* Timeout,
                         QDialogButtonBox::StandardButton Button) {
        return [=](QDialog& Dialog) {
            Child<QLineEdit>(Dialog, "edtComNumber").setText(ComNumber);
            Child<QComboBox>(Dialog, "cbBaudrate").setCurrentIndex(BaudIndex);
            Child<QLineEdit>(Dialog, "edtTimeout").setText(Timeout);
            Press(Dialog, Button);
        };
    };
    const TSettingTexts Stored = {{dmBaudrate, "7"}};
    const struct {
        const char* Behaviour;
        std::function<void(QDialog&)> Operator;
        std::string Refusal; // shown when the operator is done
        TSettingTexts Saved;
        int32_t Connect;
        int32_t Timeout;   // the property afterwards
        uint32_t BaudRate; // of the line; 0: not opened
    } Cases[] = {
        {"opened: the port not set is named", [](QDialog&) {},
         "Не задана настройка драйвера ComNumber: допустимо целое число от 1 до 255", Stored,
         sdBadComNumber, 100000, 0},
        {"Cancel takes nothing", Type("7", 0, "150", QDialogButtonBox::Cancel),
         "Не задана настройка драйвера ComNumber: допустимо целое число от 1 до 255", Stored,
         sdBadComNumber, 100000, 0},
        {"OK refuses a rate the list does not have", Type("9", -1, "150", QDialogButtonBox::Ok),
         "Неверная настройка драйвера Baudrate=\"7\": допустимо целое число от 0 до 6", Stored,
         sdBadComNumber, 100000, 0},
        {"OK refuses a timeout that is no number", Type("9", 0, "abc", QDialogButtonBox::Ok),
         "Неверная настройка драйвера Timeout=\"abc\": допустимо целое число от 0 до 2147483647",
         Stored, sdBadComNumber, 100000, 0},
        {"OK saves all three, trimmed, and they apply at once",
         Type(" 09 ", 0, "150 ", QDialogButtonBox::Ok),
         "",
         {{dmComNumber, "9"}, {dmBaudrate, "0"}, {dmTimeout, "150"}},
         sdOk,
         150,
         2400},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Behaviour);
        QTemporaryDir Folder;
        const QString Path = Folder.filePath("driver.ini");
        std::ofstream(Path.toStdString(), std::ios::binary) << "[General]\nBaudrate=7\n";
        TOnLine Rig(std::make_shared<TIniSettingsStore>(Path),
                    [](TSettingTexts& Settings) { return ShowStandInProperties(Settings); });
        Rig.Driver.Put(dmTimeout, 100000); // the run's, for this process only
        std::string Refusal;
        // A dialog that a fault leaves open is cancelled, so that the test
        // fails rather than hangs.
        QTimer::singleShot(0, [&] {
            auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(Dialog, nullptr);
            EXPECT_EQ(Child<QLineEdit>(*Dialog, "edtComNumber").text(), "");
            EXPECT_EQ(Child<QComboBox>(*Dialog, "cbBaudrate").currentIndex(), -1);
            EXPECT_EQ(Child<QComboBox>(*Dialog, "cbBaudrate").placeholderText(), "7");
            EXPECT_EQ(Child<QLineEdit>(*Dialog, "edtTimeout").text(), "150");
            for (const char* Part : {"edtComNumber", "cbBaudrate", "edtTimeout", "lblError"})
                EXPECT_GE(Dialog->layout()->indexOf(Dialog->findChild<QWidget*>(Part)), 0) << Part;
            C.Operator(*Dialog);
            Refusal = Child<QLabel>(*Dialog, "lblError").text().toStdString();
            if (Dialog->isVisible())
                Dialog->reject();
        });
        EXPECT_EQ(Rig.Call(dmShowProperties), sdOk);
        EXPECT_EQ(Refusal, C.Refusal);
        EXPECT_EQ(TIniSettingsStore(Path).LoadTexts(), C.Saved);
        EXPECT_EQ(Rig.Call(dmConnect), C.Connect);
        EXPECT_EQ(Rig.Call(dmTimeout), C.Timeout);
        EXPECT_EQ(Rig.Line.BaudRate, C.BaudRate);
    }
}

} // namespace
