// The main window, clicked through as an operator would: its layout, its
// buttons around a run, failures of the driver, and whole runs in real time
// against the register emulator program on a pseudo-terminal.
#include "fmuMain.h"
#include "fmuStandInProps.h"
#include "untAppErrors.h"
#include "untAutoRegistry.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Sep = "----------------------------";

// A driver that answers from a table and lets the test look at the window
// from inside a call.
class TTableDriver final : public TAutoServer {
public:
    TAutoValue Invoke(const std::string& Name) override {
        if (auto It = Hooks.find(Name); It != Hooks.end())
            It->second();
        if (Name == "ResultCodeDescription")
            return std::string("Описание ") + std::to_string(Results[LastCall]);
        LastCall = Name;
        if (auto It = Results.find(Name); It != Results.end())
            return It->second;
        RaiseUnknownName(Name);
    }
    void Put(const std::string&, const TAutoValue&) override {}
    std::map<std::string, int32_t> Results{{"Timeout", 150}, {"ShowProperties", 0}};
    std::map<std::string, std::function<void()>> Hooks;
    std::string LastCall;
};

QStringList LogOf(const TfmMain& Form) {
    return Form.Memo->toPlainText().split('\n');
}

} // namespace

class TfmMainTest : public QObject {
    Q_OBJECT

private:
    std::vector<std::string> Shown;
    std::shared_ptr<TTableDriver> Fake;

    void UseFakeDriver() {
        Fake = std::make_shared<TTableDriver>();
        RegisterAutoClass(DriverProgId, [this] { return Fake; });
    }

private slots:
    void initTestCase() {
        QApplication::setApplicationDisplayName(QString::fromUtf8("Тест таймаута ФР"));
        SetExceptionDisplay([this](const std::string& Text) { Shown.push_back(Text); });
    }
    void init() {
        Shown.clear();
        UnregisterAutoClass(DriverProgId);
    }

    void layoutAsDesigned() {
        TfmMain Form;
        QCOMPARE(Form.windowTitle(), QString::fromUtf8("Тест таймаута ФР"));
        QCOMPARE(Form.size(), QSize(431, 326));
        QCOMPARE(Form.minimumSize(), Form.maximumSize());
        QVERIFY(!(Form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(Form.windowFlags() & Qt::WindowMinimizeButtonHint);

        struct TControl {
            QWidget* Widget;
            QRect Geometry;
            const char* Text;
            const char* Anchors;
        };
        const TControl Controls[] = {
            {Form.Memo, {8, 8, 337, 289}, "", "left,top,right,bottom"},
            {Form.chbDetectTimeout,
             {8, 304, 273, 17},
             "Определять максимальный таймаут",
             "left,top"},
            {Form.btnStart, {352, 8, 75, 25}, "Начать", "top,right"},
            {Form.btnStop, {352, 40, 75, 25}, "Прервать", "top,right"},
            {Form.btnDriver, {352, 232, 75, 25}, "Драйвер...", "right,bottom"},
            {Form.btnClear, {352, 264, 75, 25}, "<- Очистить", "right,bottom"},
            {Form.btnClose, {352, 296, 75, 25}, "Закрыть", "right,bottom"},
        };
        for (std::size_t I = 0; I < std::size(Controls); ++I) {
            const TControl& C = Controls[I];
            QCOMPARE(C.Widget->geometry(), C.Geometry);
            QCOMPARE(C.Widget->property("anchors").toString(), QString(C.Anchors));
            if (auto* Button = qobject_cast<QAbstractButton*>(C.Widget))
                QCOMPARE(Button->text(), QString::fromUtf8(C.Text));
        }
        // Tab order follows the table.
        QList<QWidget*> Expected, Chain;
        for (const TControl& C : Controls)
            Expected << C.Widget;
        for (QWidget* W = Form.Memo; Chain.size() < Expected.size(); W = W->nextInFocusChain())
            if (Expected.contains(W))
                Chain << W;
        QCOMPARE(Chain, Expected);
        QVERIFY(Form.btnStart->isEnabled());
        QVERIFY(!Form.btnStop->isEnabled());
        QVERIFY(!Form.chbDetectTimeout->isChecked());
        QVERIFY(!Form.Memo->isReadOnly());
        QCOMPARE(Form.Memo->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(Form.Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(Form.Memo->font().pixelSize(), 11);
        QVERIFY(QFontInfo(Form.Memo->font()).fixedPitch());
        QCOMPARE(Form.btnStart->font().pixelSize(), 11);
    }

    void driverButtonFailuresReachTheErrorDisplay() {
        TfmMain Form;
        QTest::mouseClick(Form.btnDriver, Qt::LeftButton);
        QCOMPARE(Shown.size(), 1u);
        QVERIFY(QString::fromStdString(Shown[0]).contains("0x800401F3"));

        UseFakeDriver();
        Fake->Results["ShowProperties"] = 3;
        QTest::mouseClick(Form.btnDriver, Qt::LeftButton);
        QCOMPARE(Shown.size(), 2u);
        QCOMPARE(Shown[1], std::string("Ошибка драйвера: (3) Описание 3"));
        QVERIFY(Form.btnStart->isEnabled());
    }

    void startSwitchesTheButtonsAroundARun() {
        UseFakeDriver();
        TfmMain Form;
        Form.show();
        QVERIFY(QTest::qWaitForWindowActive(&Form));
        Form.Memo->setPlainText("old");
        bool StartEnabled = true, StopEnabled = false, StopFocused = false;
        Fake->Results["Connect"] = -7;
        Fake->Hooks["Connect"] = [&] {
            StartEnabled = Form.btnStart->isEnabled();
            StopEnabled = Form.btnStop->isEnabled();
            StopFocused = Form.btnStop->hasFocus();
        };
        QTest::mouseClick(Form.btnStart, Qt::LeftButton);
        QVERIFY(!StartEnabled && StopEnabled && StopFocused);
        QCOMPARE(LogOf(Form),
                 QStringList({QString::fromUtf8("Подключение к ФР"),
                              QString::fromUtf8("Ошибка драйвера: (-7) Описание -7")}));
        QVERIFY(Form.btnStart->isEnabled());
        QVERIFY(!Form.btnStop->isEnabled());
        QVERIFY(Form.btnStart->hasFocus());
        QVERIFY(!Form.Running());
    }

    void startWithoutADriverLogsOnlyTheFailure() {
        TfmMain Form;
        QTest::mouseClick(Form.btnStart, Qt::LeftButton);
        const QStringList Log = LogOf(Form);
        QCOMPARE(Log.size(), 1);
        QVERIFY(Log[0].contains("CO_E_CLASSSTRING"));
        QVERIFY(Form.btnStart->isEnabled());
    }

    // Real time against the emulator program.
    void runAgainstTheEmulator_data();
    void runAgainstTheEmulator();
};

namespace {

// The emulator program on a pseudo-terminal linked as COM7 in a port folder
// of its own, with the stand-in driver's settings pointing at it.
class TEmulatorProgram {
public:
    explicit TEmulatorProgram(const QStringList& Options) {
        QVERIFY(Dir.isValid());
        qputenv("ORMANT_PORT_DIR", Dir.path().toLocal8Bit());
        qputenv("ORMANT_DRIVER_INI", Dir.filePath("driver.ini").toLocal8Bit());
        TIniSettingsStore(Dir.filePath("driver.ini")).Save({7, 2, 150});
        Process.start(ORMANT_EMU_PATH,
                      QStringList{"--link", Dir.filePath("com7"), "--log", LogFile()} + Options);
        QVERIFY(Process.waitForStarted());
        QVERIFY(Process.waitForReadyRead(5000));
        QVERIFY(Process.readLine().startsWith("PTY "));
        RegisterStandInDriver();
    }
    ~TEmulatorProgram() {
        Process.terminate();
        Process.waitForFinished(5000);
        UnregisterAutoClass(DriverProgId);
    }
    QString LogFile() const { return Dir.filePath("emu.log"); }
    QString Log() const {
        QFile F(LogFile());
        F.open(QIODevice::ReadOnly);
        return QString::fromUtf8(F.readAll());
    }

private:
    QTemporaryDir Dir;
    QProcess Process;
};

} // namespace

void TfmMainTest::runAgainstTheEmulator_data() {
    QTest::addColumn<bool>("closeDuringRun");
    QTest::newRow("search for the maximum") << false;
    QTest::newRow("window closed during a probe") << true;
}

void TfmMainTest::runAgainstTheEmulator() {
    QFETCH(bool, closeDuringRun);
    // A register that waits at most 500 ms, whatever it is told.
    TEmulatorProgram Emulator({"--cap", "500"});
    TfmMain Form;
    Form.show();
    Form.chbDetectTimeout->setChecked(true);
    if (closeDuringRun)
        QTimer::singleShot(1500, &Form, [&] { Form.close(); });
    QElapsedTimer Clock;
    Clock.start();
    QTest::mouseClick(Form.btnStart, Qt::LeftButton);
    const QStringList Log = LogOf(Form);
    qInfo() << "run of" << Clock.elapsed() << "ms:" << Log;

    const QStringList Head = {QString::fromUtf8("Подключение к ФР"),
                              QString::fromUtf8("Установка таймаута ФР 100000 мс."),
                              QString::fromUtf8("Отключение от ФР"),
                              Sep,
                              QString::fromUtf8("Тест фиксированных таймаутов"),
                              QString::fromUtf8("100    мс : OK"),
                              QString::fromUtf8("1000   мс : Тест не пройден!")};
    const QStringList Restore = {Sep, QString::fromUtf8("Установка таймаута ФР 150 мс."),
                                 QString::fromUtf8("Отключение от ФР")};
    QVERIFY(Log.size() > Head.size() + Restore.size());
    QCOMPARE(Log.mid(0, Head.size()), Head);
    QCOMPARE(Log.mid(Log.size() - Restore.size()), Restore);
    // The register's own account: it was told 100000, then its timeout back.
    const QString Wire = Emulator.Log();
    QVERIFY(Wire.lastIndexOf("requested 100000") < Wire.lastIndexOf("requested 150"));

    if (closeDuringRun) {
        QVERIFY(!Form.isVisible());
        QVERIFY(Log.at(Log.size() - 4).endsWith(QString::fromUtf8(" : Тест прерван")));
        QVERIFY(!Log.join('\n').contains(QString::fromUtf8("Максимальный")));
        return;
    }
    const QString Result = Log.at(Log.size() - 4);
    QRegularExpression Pattern(QString::fromUtf8("^Максимальный таймаут: (\\d+) мс\\.$"));
    const auto Match = Pattern.match(Result);
    QVERIFY2(Match.hasMatch(), qPrintable(Result));
    // Below 500 by up to a wait step, the bisection's 10 ms, and scheduling.
    const int Found = Match.captured(1).toInt();
    QVERIFY2(Found >= 440 && Found < 500, qPrintable(Result));
}

QTEST_MAIN(TfmMainTest)
#include "tst_fmMain.moc"
