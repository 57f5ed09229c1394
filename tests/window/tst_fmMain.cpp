// The Qt window itself: its frame, and short runs in real time against the
// register emulator program on a pseudo-terminal, clicked as an operator
// would. What the window does with its clicks is tested with the form.
#include "fmuMain_qt.h"
#include "fmuStandInProps_qt.h"
#include "support/RunLog.h"
#include "support/ScopedEnv.h"
#include "untAutoRegistry.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

template <class T = QWidget> T* ControlOf(const QWidget& Window, const char* Name) {
    T* Control = Window.findChild<T*>(Name);
    if (!Control)
        qFatal("no control %s", Name);
    return Control;
}

QStringList LogOf(const QWidget& Window) {
    return ControlOf<QPlainTextEdit>(Window, "Memo")->toPlainText().split('\n');
}

// The emulator program on a pseudo-terminal linked as COM7 in a port folder
// of its own, with the stand-in driver's settings pointing at it.
class TEmulatorProgram {
public:
    explicit TEmulatorProgram(const QStringList& Options) {
        QVERIFY(Dir.isValid());
        TIniSettingsStore(Dir.filePath("driver.ini")).Save({7, 2, 150});
        // Ends with the test, also when the test is killed at its time limit.
        Process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        Process.start(ORMANT_EMU_PATH, QStringList{"--link", Dir.filePath("com7")} + Options);
        QVERIFY(Process.waitForStarted());
        QVERIFY(Process.waitForReadyRead(5000));
        QVERIFY(Process.readLine().startsWith("PTY "));
        RegisterStandInDriver();
    }
    ~TEmulatorProgram() {
        Process.terminate();
        Process.waitForFinished(5000);
        UnregisterAutoClass(DriverProgId); // as before: no driver
    }

private:
    QTemporaryDir Dir;
    // Put back as they were when the test ends.
    TScopedEnv PortDir{"ORMANT_PORT_DIR", Dir.path().toStdString()};
    TScopedEnv DriverIni{"ORMANT_DRIVER_INI", Dir.filePath("driver.ini").toStdString()};
    QProcess Process;
};

// Calls Action once, as soon as the log's last line is Line; polls every 5 ms
// while the run lets the window process its messages.
void WhenLastLineIs(QWidget& Window, const QString& Line, std::function<void()> Action) {
    auto* Timer = new QTimer(&Window);
    QObject::connect(Timer, &QTimer::timeout, &Window, [&Window, Timer, Line, Action] {
        if (LogOf(Window).last() == Line) {
            Timer->stop();
            Action();
        }
    });
    Timer->start(5);
}

QStringList Lines(const TLines& Lines) {
    QStringList List;
    for (const std::string& Line : Lines)
        List << QString::fromStdString(Line);
    return List;
}

} // namespace

class TQtMainViewTest : public QObject {
    Q_OBJECT

private slots:
    // A fixed window; Driver... without a driver shows the failure in a
    // message box.
    void fixedWindowAndDriverFailureShown() {
        TQtMainView Window;
        QCOMPARE(Window.windowTitle(), QString::fromUtf8("Тест таймаута ФР"));
        QCOMPARE(Window.size(), QSize(ClientWidth, ClientHeight));
        QCOMPARE(Window.minimumSize(), Window.maximumSize());
        QVERIFY(!(Window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(Window.windowFlags() & Qt::WindowMinimizeButtonHint);
        // Keyboard order is the table's; every control shows whole, and none
        // hides another.
        QList<QWidget*> Expected, Chain;
        QRegion Covered;
        for (const TControlSpec& C : Controls) {
            QWidget* Control = ControlOf(Window, C.Name);
            QVERIFY(Window.rect().contains(Control->geometry()));
            QVERIFY(!Covered.intersects(Control->geometry()));
            Covered += Control->geometry();
            Expected << Control;
        }
        for (QWidget* W = Expected[0]; Chain.size() < Expected.size(); W = W->nextInFocusChain())
            if (Expected.contains(W))
                Chain << W;
        QCOMPARE(Chain, Expected);
        // A log the operator scrolls and edits, in fixed pitch; Stop only in a
        // run.
        const auto* Memo = ControlOf<QPlainTextEdit>(Window, "Memo");
        QVERIFY(QFontInfo(Memo->font()).fixedPitch());
        QVERIFY(!Memo->isReadOnly() && Memo->lineWrapMode() == QPlainTextEdit::NoWrap &&
                Memo->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn);
        QVERIFY(!ControlOf(Window, "btnStop")->isEnabled());
        QCOMPARE(Window.objectName(), QString("fmMain"));

        UnregisterAutoClass(DriverProgId);
        QString Shown;
        QTimer::singleShot(0, [&Shown] {
            if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Shown = Box->text();
                Box->accept();
            }
        });
        QTest::mouseClick(ControlOf(Window, "btnDriver"), Qt::LeftButton);
        QVERIFY(Shown.contains("Addin.Ormant"));
        // Start reads the driver's timeout before its first line: the failure
        // is the log's only line.
        QTest::mouseClick(ControlOf(Window, "btnStart"), Qt::LeftButton);
        QCOMPARE(LogOf(Window), QStringList{Shown});
    }

    // A register that falls silent for 2 s at the 1000 ms probe's command:
    // the window handles its events all the while, and closed once the
    // register answers again, it stops the probe, restores the register's
    // timeout, and only then closes.
    void silentRegisterKeepsTheWindowAnswering() {
        TEmulatorProgram Emulator({"--fault", "mute", "--mute-after", "1", "--mute-seconds", "2"});
        TQtMainView Window;
        Window.show();
        QElapsedTimer Clock;
        qint64 Last = -1, Longest = 0;
        QTimer Beat;
        Beat.setInterval(10);
        QObject::connect(&Beat, &QTimer::timeout, [&] {
            if (Last >= 0)
                Longest = std::max(Longest, Clock.elapsed() - Last);
            Last = Clock.elapsed();
        });
        WhenLastLineIs(Window, QString::fromStdString(runlog::Probe(1000)), [&] {
            QVERIFY(!ControlOf(Window, "btnStart")->isEnabled());
            QVERIFY(ControlOf(Window, "btnStop")->hasFocus());
            Clock.start();
            Beat.start();
            QTimer::singleShot(2500, &Window, [&] {
                Beat.stop();
                Window.close();
            });
        });
        // Closing the main window ends the program, though it was hidden.
        QTimer::singleShot(
            0, &Window, [&] { QTest::mouseClick(ControlOf(Window, "btnStart"), Qt::LeftButton); });
        QTimer::singleShot(10000, &Window, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(LogOf(Window), Lines(Join({Head, {Ok(100), Cut(1000)}, Restore})));
        qInfo("the longest gap between two events: %lld ms", Longest);
        QVERIFY(Last >= 2000 && Longest < 500);
        QVERIFY(!Window.isVisible());
    }

    // Cleared while the 100 ms probe waits: its verdict has no line to end,
    // and the lines after it start the log afresh.
    void clearedDuringAProbe() {
        TEmulatorProgram Emulator({"--cap", "50"});
        TQtMainView Window;
        Window.show();
        ControlOf<QCheckBox>(Window, "chbDetectTimeout")->setChecked(true);
        WhenLastLineIs(Window, QString::fromStdString(runlog::Probe(100)),
                       [&] { QTest::mouseClick(ControlOf(Window, "btnClear"), Qt::LeftButton); });
        QTest::mouseClick(ControlOf(Window, "btnStart"), Qt::LeftButton);
        QCOMPARE(LogOf(Window), Lines(Join({{Separator, runlog::Searching}, Restore})));
        QTest::mouseClick(ControlOf(Window, "btnClose"), Qt::LeftButton);
        QVERIFY(!Window.isVisible());
    }

    // The driver's dialog takes input while the window refuses it, and the
    // window takes it again once the dialog is gone.
    void onlyTheDriversDialogTakesInput() {
        TEmulatorProgram Emulator({});
        TQtMainView Window;
        Window.show();
        bool DialogEnabled = false, WindowEnabled = true;
        QTimer::singleShot(0, [&] {
            if (auto* Dialog = QApplication::activeModalWidget();
                Dialog && Dialog->objectName() == "dlgStandInProps") {
                DialogEnabled = Dialog->isEnabled();
                WindowEnabled = Window.isEnabled();
                static_cast<QDialog*>(Dialog)->reject();
            }
        });
        QTest::mouseClick(ControlOf(Window, "btnDriver"), Qt::LeftButton);
        QVERIFY(DialogEnabled);
        QVERIFY(!WindowEnabled);
        QVERIFY(Window.isEnabled());
    }
};

QTEST_MAIN(TQtMainViewTest)
#include "tst_fmMain.moc"
