#include "fmuMain.h"

#include "untAppErrors.h"
#include "untClock.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>

void TMemoLog::Clear() {
    FMemo.clear();
}

void TMemoLog::Add(const std::string& Line) {
    FMemo.appendPlainText(QString::fromStdString(Line));
}

int TMemoLog::Count() const {
    // An empty text control still has one empty block; it holds no line.
    const QTextDocument& Doc = *FMemo.document();
    return Doc.isEmpty() ? 0 : Doc.blockCount();
}

std::string TMemoLog::Line(int Index) const {
    return FMemo.document()->findBlockByNumber(Index).text().toStdString();
}

void TMemoLog::SetLine(int Index, const std::string& Line) {
    QTextCursor Cursor(FMemo.document()->findBlockByNumber(Index));
    Cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    Cursor.insertText(QString::fromStdString(Line));
}

void TMemoLog::Repaint() {
    FMemo.repaint();
}

TfmMain::TfmMain(QWidget* Owner)
    : QWidget(Owner), FLog((setupUi(this), *Memo)), FTest(*this), FClock(&SystemClock()) {
    FComPort = std::make_unique<TComPort>();

    // A fixed single border with a system menu and a minimise box, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    FDesignSize = size();
    setFixedSize(FDesignSize);

    QFont Sans("MS Sans Serif");
    Sans.setStyleHint(QFont::SansSerif);
    Sans.setPixelSize(11);
    setFont(Sans);
    // Fixed pitch, so the delays padded to six characters stand in one column.
    QFont Mono("Courier");
    Mono.setStyleHint(QFont::TypeWriter);
    Mono.setFixedPitch(true);
    Mono.setPixelSize(11);
    Memo->setFont(Mono);

    if (const QScreen* Screen = QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());

    connect(btnStart, &QPushButton::clicked, this, &TfmMain::btnStartClick);
    connect(btnStop, &QPushButton::clicked, this, &TfmMain::btnStopClick);
    connect(btnClear, &QPushButton::clicked, this, &TfmMain::btnClearClick);
    connect(btnClose, &QPushButton::clicked, this, &TfmMain::btnCloseClick);
    connect(btnDriver, &QPushButton::clicked, this, &TfmMain::btnDriverClick);
    btnStart->setFocus();
    FormCreate();
}

TfmMain::~TfmMain() {
    FComPort.reset();
    FDriver.Release();
}

void TfmMain::FormCreate() {
    setWindowTitle(QGuiApplication::applicationDisplayName());
}

TAutoObject TfmMain::GetDriver() {
    return FDriver.GetDriver();
}

void TfmMain::CheckResult(int32_t Code) {
    FDriver.CheckResult(Code);
}

void TfmMain::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TfmMain::btnStartClick() {
    // Start is disabled while a run goes on; a click queued before that must
    // not start a run inside the run.
    if (FRunning)
        return;
    FRunning = true;
    Memo->clear();
    btnStart->setEnabled(false);
    btnStop->setEnabled(true);
    btnStop->setFocus();
    try {
        RunTest();
    } catch (const std::exception& E) {
        FLog.Add(E.what());
    } catch (...) {
        FLog.Add("Неизвестная ошибка");
    }
    btnStop->setEnabled(false);
    btnStart->setEnabled(true);
    btnStart->setFocus();
    FRunning = false;
}

void TfmMain::btnStopClick() {
    FStopped = true;
}

void TfmMain::btnClearClick() {
    Memo->clear();
}

void TfmMain::btnCloseClick() {
    close();
}

void TfmMain::btnDriverClick() {
    try {
        FComPort->Close();
        CheckResult(GetDriver().Get("ShowProperties").AsInt32());
    } catch (const std::exception& E) {
        ShowException(E);
    } catch (...) {
        ShowException(std::runtime_error("Неизвестная ошибка"));
    }
}

void TfmMain::FormClose() {
    FStopped = true;
}

void TfmMain::closeEvent(QCloseEvent* Event) {
    FormClose();
    Event->accept();
}

void TfmMain::resizeEvent(QResizeEvent* Event) {
    // Controls keep their distance to the edges they are anchored to.
    const QSize Delta = size() - FDesignSize;
    for (QWidget* Child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QString Anchors = Child->property("anchors").toString();
        if (Anchors.isEmpty())
            continue;
        QRect Design = Child->property("designGeometry").toRect();
        if (Design.isNull()) {
            Design = Child->geometry();
            Child->setProperty("designGeometry", Design);
        }
        QRect R = Design;
        const bool L = Anchors.contains("left"), Rt = Anchors.contains("right");
        const bool T = Anchors.contains("top"), B = Anchors.contains("bottom");
        if (Rt && L)
            R.setWidth(Design.width() + Delta.width());
        else if (Rt)
            R.moveLeft(Design.left() + Delta.width());
        if (B && T)
            R.setHeight(Design.height() + Delta.height());
        else if (B)
            R.moveTop(Design.top() + Delta.height());
        Child->setGeometry(R);
    }
    QWidget::resizeEvent(Event);
}
