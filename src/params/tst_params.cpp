#include <QtTest>
class Tst : public QObject { Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_APPLESS_MAIN(Tst)
#include "tst_params.moc"
