#include "fmuMain_qt.h"

#include "ui_fmuMain.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// The log kept in the window's multi-line text control, one entry a line.
class TMemoLog final : public TLog {
public:
    explicit TMemoLog(QPlainTextEdit& AMemo) : FMemo(AMemo) {}
    void Clear() override { FMemo.clear(); }
    void Add(const std::string& Line) override {
        FMemo.appendPlainText(QString::fromStdString(Line));
    }
    int Count() const override {
        // An empty text control still has one empty block; it holds no line.
        const QTextDocument& Doc = *FMemo.document();
        return Doc.isEmpty() ? 0 : Doc.blockCount();
    }
    std::string Line(int Index) const override {
        return FMemo.document()->findBlockByNumber(Index).text().toStdString();
    }
    void SetLine(int Index, const std::string& Line) override {
        QTextCursor Cursor(FMemo.document()->findBlockByNumber(Index));
        Cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        Cursor.insertText(QString::fromStdString(Line));
    }
    void Repaint() override { FMemo.repaint(); }

private:
    QPlainTextEdit& FMemo;
};

} // namespace

TQtMainView::TQtMainView(QWidget* Owner) : QWidget(Owner), FUi(std::make_unique<Ui::fmMain>()) {
    FUi->setupUi(this);
    FLog = std::make_unique<TMemoLog>(*FUi->Memo);

    // A fixed single border with a system menu and a minimise box, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());

    QFont Sans("MS Sans Serif");
    Sans.setStyleHint(QFont::SansSerif);
    Sans.setPixelSize(11);
    setFont(Sans);
    // Fixed pitch, so the delays padded to six characters stand in one column.
    QFont Mono("Courier");
    Mono.setStyleHint(QFont::TypeWriter);
    Mono.setFixedPitch(true);
    Mono.setPixelSize(11);
    FUi->Memo->setFont(Mono);

    if (const QScreen* Screen = QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());

    FForm = std::make_unique<TfmMain>(static_cast<TMainView&>(*this));
    connect(FUi->btnStart, &QPushButton::clicked, this, [this] { FForm->btnStartClick(); });
    connect(FUi->btnStop, &QPushButton::clicked, this, [this] { FForm->btnStopClick(); });
    connect(FUi->btnClear, &QPushButton::clicked, this, [this] { FForm->btnClearClick(); });
    connect(FUi->btnClose, &QPushButton::clicked, this, [this] { FForm->btnCloseClick(); });
    connect(FUi->btnDriver, &QPushButton::clicked, this, [this] { FForm->btnDriverClick(); });
    FUi->btnStart->setFocus();
    FForm->FormCreate();
}

// The form goes first: its port and driver before the controls.
TQtMainView::~TQtMainView() {
    FForm.reset();
}

void TQtMainView::closeEvent(QCloseEvent* Event) {
    if (!FForm->FormClose()) {
        Event->ignore();
        return;
    }
    Event->accept();
    // Closing the main window ends the program. Qt ends it by itself only
    // when a visible window closes, and one closed during a run is hidden.
    QCoreApplication::quit();
}

void TQtMainView::SetCaption(const std::string& Caption) {
    setWindowTitle(QString::fromStdString(Caption));
}

QWidget* TQtMainView::Control(TControlId Id) const {
    switch (Id) {
    case ciMemo:
        return FUi->Memo;
    case ciDetectTimeout:
        return FUi->chbDetectTimeout;
    case ciStart:
        return FUi->btnStart;
    case ciStop:
        return FUi->btnStop;
    case ciDriver:
        return FUi->btnDriver;
    case ciClear:
        return FUi->btnClear;
    case ciClose:
        return FUi->btnClose;
    }
    throw std::logic_error("no control " + std::to_string(Id));
}

void TQtMainView::EnableControl(TControlId Id, bool Enabled) {
    Control(Id)->setEnabled(Enabled);
}

void TQtMainView::FocusControl(TControlId Id) {
    Control(Id)->setFocus();
}

bool TQtMainView::DetectTimeout() const {
    return FUi->chbDetectTimeout->isChecked();
}

void TQtMainView::ShowError(const std::string& Text) {
    QMessageBox::critical(this, windowTitle(), QString::fromStdString(Text));
}

void TQtMainView::ProcessMessages() {
    QCoreApplication::processEvents();
}
