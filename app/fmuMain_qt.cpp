#include "fmuMain_qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
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

QFont MakeFont(const TFontSpec& Item) {
    QFont Font;
    QStringList Faces;
    for (const char* Face : Item.Faces)
        if (Face)
            Faces << QString::fromUtf8(Face);
    Font.setFamilies(Faces);
    Font.setStyleHint(Item.FixedPitch ? QFont::TypeWriter : QFont::SansSerif);
    Font.setFixedPitch(Item.FixedPitch);
    Font.setPixelSize(Item.PixelHeight);
    return Font;
}

QWidget* MakeControl(const TControlSpec& Item, QWidget& Owner) {
    const QString Text = QString::fromUtf8(Item.Text);
    QWidget* Control = nullptr;
    switch (Item.Kind) {
    case TControlKind::Memo: {
        auto* Memo = new QPlainTextEdit(&Owner);
        Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
        Memo->setFont(MakeFont(LogFont));
        Control = Memo;
        break;
    }
    case TControlKind::CheckBox:
        Control = new QCheckBox(Text, &Owner);
        break;
    case TControlKind::Button:
        Control = new QPushButton(Text, &Owner);
        break;
    }
    Control->setObjectName(QString::fromUtf8(Item.Name));
    Control->setGeometry(Item.Left, Item.Top, Item.Width, Item.Height);
    Control->setEnabled(Item.Enabled);
    return Control;
}

} // namespace

TQtMainView::TQtMainView(QWidget* Owner) : QWidget(Owner) {
    setObjectName("fmMain");
    setFont(MakeFont(FormFont));
    QWidget* Previous = nullptr;
    for (const TControlSpec& Item : Controls) {
        QWidget* Control = MakeControl(Item, *this);
        FControls[Item.Id] = Control;
        if (Previous)
            setTabOrder(Previous, Control);
        Previous = Control;
    }
    FLog = std::make_unique<TMemoLog>(static_cast<QPlainTextEdit&>(*Control(ciMemo)));

    // A fixed single border with a system menu and a minimise box, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);

    if (const QScreen* Screen = QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());

    FForm = std::make_unique<TfmMain>(static_cast<TMainView&>(*this));
    for (const TControlSpec& Item : Controls)
        if (auto* Button = qobject_cast<QPushButton*>(Control(Item.Id)))
            connect(Button, &QPushButton::clicked, this,
                    [this, Id = Item.Id] { FForm->Click(Id); });
    Control(FirstFocus)->setFocus();
    FStepTimer.setInterval(WaitStepMs);
    FStepTimer.setTimerType(Qt::PreciseTimer);
    connect(&FStepTimer, &QTimer::timeout, this, [this] { FStep(); });
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

void TQtMainView::EnableControl(TControlId Id, bool Enabled) {
    Control(Id)->setEnabled(Enabled);
}

void TQtMainView::FocusControl(TControlId Id) {
    Control(Id)->setFocus();
}

bool TQtMainView::Checked(TControlId Id) const {
    return static_cast<QCheckBox*>(Control(Id))->isChecked();
}

void TQtMainView::ShowError(const std::string& Text) {
    QMessageBox::critical(this, windowTitle(), QString::fromStdString(Text));
}

void TQtMainView::SetStepTimer(std::function<void()> Step) {
    // Shares the Win32 view's path; a Qt window on Linux has no modal loop
    // of the system to keep going through.
    FStep = std::move(Step);
    if (FStep)
        FStepTimer.start();
    else
        FStepTimer.stop();
}

void TQtMainView::Alert() {
    // The desktop's request for attention (on X11 the window demands it):
    // Qt makes none for the active window, and keeps it until the window is
    // activated. Hidden, the window closes once the run is over.
    if (isVisible())
        QApplication::alert(this);
}

void TQtMainView::ProcessMessages() {
    QCoreApplication::processEvents();
}
