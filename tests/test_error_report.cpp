// The error report as the user sees it: a message box titled with the
// program's title, the error's number and text, and then the end of the
// program with status 1, after which no handler runs.
#include "runtime/Runtime.h"
#include "runtime/App.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        App() = builtApp();
        runtime::resetForTest();
    }
    void box_data();
    void box();
};

void TestErrorReport::box_data()
{
    QTest::addColumn<QString>("title"); // empty: as built
    QTest::addColumn<QString>("shown");
    QTest::newRow("as built") << QString() << QStringLiteral("Veltrane Editor");
    QTest::newRow("title changed at run time") << QStringLiteral("Lap Tuner") << QStringLiteral("Lap Tuner");
}

void TestErrorReport::box()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    if (!title.isEmpty())
        App().Title = title;
    QList<int> ends;
    runtime::setEndHook([&](int status) { ends.append(status); });

    // Reads the box once it is up, and closes it.
    QString boxTitle, boxText;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxTitle = box->windowTitle();
            boxText = box->text();
            box->accept();
        }
    });
    poll.start(10);
    runtime::dispatch([] { runtime::raise(runtime::FileNotFound, QStringLiteral("C:\\Games\\game.Gdb")); });
    poll.stop();

    QCOMPARE(boxTitle, shown);
    QCOMPARE(boxText, QStringLiteral("Run-time error '53':\n\nFile not found: C:\\Games\\game.Gdb"));
    QCOMPARE(ends, QList<int>{1});
    QVERIFY(runtime::hasEnded());
    QCOMPARE(runtime::exitStatus(), 1);
    bool ran = false;
    runtime::dispatch([&] { ran = true; });
    QVERIFY(!ran);
}

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
