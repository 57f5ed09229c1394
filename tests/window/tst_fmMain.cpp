#include <QtTest>
class TfmMainTest : public QObject { Q_OBJECT };
QTEST_MAIN(TfmMainTest)
#include "tst_fmMain.moc"
