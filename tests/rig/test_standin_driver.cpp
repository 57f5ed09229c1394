// The stand-in driver on the emulated register, its settings file and their
// dialog.
#include "ScopedEnv.h"
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

using TOutcome = std::pair<int32_t, std::string>;
const std::string Enq = "\x05", Ack = "\x06", Command = BuildFrame(ShortStatusCommand());

// The stand-in on a line of its own to an emulated register, its settings
// in an INI file of its own that holds Ini under [General].
struct TOnLine {
    explicit TOnLine(const std::string& Ini, TPropertiesDialog Dialog = nullptr)
        : Driver(Store(Ini), std::move(Dialog), std::move(Own)) {
        // An answer held for someone else and a stray byte: neither is a call's.
        Register.HostWrites(Command);
        Register.Input += "\x1B";
    }
    std::shared_ptr<TStandInSettingsStore> Store(const std::string& Ini) {
        std::ofstream(Path.toStdString(), std::ios::binary) << "[General]\n" << Ini;
        return std::make_shared<TIniSettingsStore>(Path);
    }
    std::string File() const {
        std::ifstream In(Path.toStdString(), std::ios::binary);
        return {std::istreambuf_iterator<char>(In), {}};
    }
    // The code and text of a call: a method's result and description, a
    // property's value, or the code and text of the refusal it raised.
    TOutcome Outcome(const std::string& Call) try {
        const int32_t Code = Driver.Invoke(Call).AsInt32();
        return {Code, Driver.Invoke(dmResultCodeDescription).AsString()};
    } catch (const EDriverError& E) {
        return {E.Code, E.what()};
    }
    std::string LineState() const {
        return Line.Opens
                   ? "COM" + std::to_string(Line.ComNumber) + " at " +
                         std::to_string(Line.BaudRate) + (Line.IsOpen() ? ", open" : ", closed")
                   : "";
    }
    QTemporaryDir Folder;
    const QString Path = Folder.filePath("driver.ini");
    TVirtualRegister Register;
    std::unique_ptr<TVirtualLine> Own = std::make_unique<TVirtualLine>(Register);
    TVirtualLine& Line = *Own;
    TStandInDriver Driver;
};

std::string Refusal(const std::string& Setting, const char* Allowed) {
    return "Неверная настройка драйвера " + Setting + ": допустимо целое число от " + Allowed;
}

const char *Rated = "ComNumber=9\nBaudrate=0\n", *NoError = "Ошибок нет";
const char* Closed = "COM9 at 2400, closed";

// Each call on a fresh rig; a refused setting reaches no register.
TEST(StandInDriver, CallsAnswerWithTheirCodesAndTexts) {
    const struct {
        std::string Call, Write, Reply; // the register's Reply to Write in place of its own
        int32_t Code;
        std::string Text, Line = Closed; // Line "": never opened
        std::string Ini = Rated;
        bool Unplugged = false;
    } Cases[] = {
        {"Connect", "", "", rcOk, NoError, "COM9 at 9600, open", "ComNumber=9\n"},
        {"SetExchangeParam", "", "", rcOk, NoError},
        {"Connect", Enq, "\x1B", rcBadAnswer, "Неверный ответ ФР: на ENQ принят 0x1B"},
        {"Connect", Command, "\x15", rcBadAnswer, "Неверный ответ ФР: команда не принята, 0x15"},
        // Not read on: 256 more bytes would end in "Нет связи".
        {"Connect", Command, Ack + std::string("\x00\xFF", 2), rcBadAnswer,
         "Неверный ответ ФР: нет STX"},
        {"Connect", Command, Ack + "\x02\x02\x11\x01\x99", rcBadAnswer,
         "Неверный ответ ФР: неверная контрольная сумма"},
        {"Connect", Command, Ack + BuildFrame(std::string("\x15\x00", 2)), rcBadAnswer,
         "Неверный ответ ФР: ответ не на ту команду"},
        {"Connect", Command, Ack + BuildFrame("\x11\x37"), 0x37,
         "ФР: команда не поддерживается (0x37)"},
        {"Connect", Command, Ack + BuildFrame("\x11\xFF"), 0xFF, "ФР: неизвестная ошибка (0xFF)"},
        {"Connect", "", "", rcSystemError, "Системная ошибка. Код: 5. Ошибка ввода-вывода", Closed,
         Rated, true},
        {"Connect", "", "", rcBadComNumber,
         "Не задана настройка драйвера ComNumber: допустимо целое число от 1 до 255", "", ""},
        {"Connect", "", "", rcBadBaudrate, Refusal("Baudrate=\"7\"", "0 до 6"), "",
         "ComNumber=9\nBaudrate=7\n"},
        // A decimal comma, which the format reads as a list, is refused as typed.
        {"SetExchangeParam", "", "", rcBadTimeout, Refusal("Timeout=\"1,5\"", "0 до 2147483647"),
         "", "Timeout=1,5\n"},
        {"Timeout", "", "", rcBadTimeout, Refusal("Timeout=\"2147483648\"", "0 до 2147483647"), "",
         "Timeout=2147483648\n"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Ini + C.Call);
        TOnLine Rig(C.Ini);
        Rig.Register.Replies[C.Write] = C.Reply;
        Rig.Register.Unplugged = C.Unplugged;
        EXPECT_EQ(Rig.Outcome(C.Call), TOutcome(C.Code, C.Text));
        EXPECT_EQ(Rig.LineState(), C.Line);
    }
    TOnLine Rig("");
    EXPECT_THROW(Rig.Driver.Put("Speed", 1), EOleError); // no such member
}

// The held answer is taken and acknowledged before the command; silence is
// no link after the driver's own 1000 ms, whatever the register's exchange
// timeout.
TEST(StandInDriver, SilenceIsNoLinkAfterASecond) {
    TOnLine Rig("ComNumber=9\nTimeout=150\n");
    Rig.Register.Replies[Command] = "";
    EXPECT_EQ(Rig.Outcome(dmConnect), TOutcome(peNoLink, std::string("Нет связи")));
    EXPECT_EQ(Rig.Line.Written, Enq + Ack + Command);
    EXPECT_EQ(Rig.Register.Now, 1000u);
}

// The dialog over a file that holds a rate the list does not have and no
// port, opened while the program has put its run's timeout. It opens on the
// stored values, a refused one shown as it is; OK takes only valid values,
// saves all three and they apply at once; closed otherwise, it takes nothing.
TEST(StandInSettings, TheDialogEditsTheStoredSettings) {
    const TScopedEnv Platform("QT_QPA_PLATFORM", "offscreen");
    int Argc = 1;
    char Name[] = "unit_tests";
    char* Argv[] = {Name, nullptr};
    QApplication App(Argc, Argv);
    const struct {
        const char *ComNumber, *TimeoutText; // typed
        int BaudIndex;                       // chosen
        std::string Refusal, File;           // shown after OK; the file then
        int32_t Timeout;                     // the driver's then
    } Cases[] = {
        {"9", "150", -1, Refusal("Baudrate=\"7\"", "0 до 6"), "[General]\nBaudrate=7\n", 100000},
        {" 09 ", "150 ", 0, "", "[General]\nBaudrate=0\nComNumber=9\nTimeout=150\n", 150},
    };
    for (const auto& C : Cases) {
        TOnLine Rig("Baudrate=7\n",
                    [](TSettingTexts& Texts) { return ShowStandInProperties(Texts); });
        Rig.Driver.Put(dmTimeout, 100000); // the run's, for this process only
        std::string Refusal;
        // A dialog that a fault leaves open is cancelled, so that the test
        // fails rather than hangs.
        QTimer::singleShot(0, [&] {
            auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(Dialog, nullptr);
            auto* Port = Dialog->findChild<QLineEdit*>("edtComNumber");
            auto* Rate = Dialog->findChild<QComboBox*>("cbBaudrate");
            auto* Timeout = Dialog->findChild<QLineEdit*>("edtTimeout");
            auto* Label = Dialog->findChild<QLabel*>("lblError");
            for (QWidget* Part : std::initializer_list<QWidget*>{Port, Rate, Timeout, Label})
                EXPECT_GE(Dialog->layout()->indexOf(Part), 0);
            // The rate list selects nothing and shows the refused index.
            EXPECT_EQ(Port->text() + "|" + Rate->currentText() + Rate->placeholderText() + "|" +
                          Timeout->text(),
                      "|7|150");
            Port->setText(C.ComNumber);
            Rate->setCurrentIndex(C.BaudIndex);
            Timeout->setText(C.TimeoutText);
            Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            Refusal = Label->text().toStdString();
            if (Dialog->isVisible())
                Dialog->reject();
        });
        EXPECT_EQ(Rig.Outcome(dmShowProperties), TOutcome(rcOk, std::string(NoError)));
        EXPECT_EQ(Refusal, C.Refusal);
        EXPECT_EQ(Rig.File(), C.File);
        EXPECT_EQ(Rig.Outcome(dmTimeout).first, C.Timeout);
    }
}

} // namespace
