// Windows-1252 conversions: every byte survives the round trip, the 80..9F
// block maps where the code page puts it, and the rest becomes '?'.
#include "runtime/CodePage.h"

#include <QtTest>

using runtime::fromAnsi;
using runtime::toAnsi;

class TestCodePage : public QObject {
    Q_OBJECT
private slots:
    void everyByteRoundTrips();
    void highBlock_data();
    void highBlock();
    void latin1Range();
    void unmapped_data();
    void unmapped();
    void longTextSameAsCharByChar_data();
    void longTextSameAsCharByChar();
};

void TestCodePage::everyByteRoundTrips()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = fromAnsi(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(toAnsi(text), all);
    // Distinct bytes give distinct characters, or the round trip would be luck.
    QSet<QChar> seen(text.begin(), text.end());
    QCOMPARE(seen.size(), 256);
}

void TestCodePage::highBlock_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode");
    QTest::newRow("80 euro") << 0x80 << 0x20AC;
    QTest::newRow("82 low quote") << 0x82 << 0x201A;
    QTest::newRow("83 f hook") << 0x83 << 0x0192;
    QTest::newRow("85 ellipsis") << 0x85 << 0x2026;
    QTest::newRow("8A S caron") << 0x8A << 0x0160;
    QTest::newRow("8C OE") << 0x8C << 0x0152;
    QTest::newRow("8E Z caron") << 0x8E << 0x017D;
    QTest::newRow("91 left quote") << 0x91 << 0x2018;
    QTest::newRow("93 left double quote") << 0x93 << 0x201C;
    QTest::newRow("96 en dash") << 0x96 << 0x2013;
    QTest::newRow("97 em dash") << 0x97 << 0x2014;
    QTest::newRow("99 trade mark") << 0x99 << 0x2122;
    QTest::newRow("9C oe") << 0x9C << 0x0153;
    QTest::newRow("9E z caron") << 0x9E << 0x017E;
    QTest::newRow("9F Y diaeresis") << 0x9F << 0x0178;
    // The five the code page leaves undefined stand for themselves.
    QTest::newRow("81 undefined") << 0x81 << 0x0081;
    QTest::newRow("8D undefined") << 0x8D << 0x008D;
    QTest::newRow("8F undefined") << 0x8F << 0x008F;
    QTest::newRow("90 undefined") << 0x90 << 0x0090;
    QTest::newRow("9D undefined") << 0x9D << 0x009D;
}

void TestCodePage::highBlock()
{
    QFETCH(int, byte);
    QFETCH(int, unicode);
    const QString text = fromAnsi(QByteArray(1, char(byte)));
    QCOMPARE(text.size(), 1);
    QCOMPARE(int(text[0].unicode()), unicode);
    QCOMPARE(toAnsi(QString(QChar(unicode))), QByteArray(1, char(byte)));
}

void TestCodePage::latin1Range()
{
    // A0..FF coincide with Latin-1, in a longer text too.
    const QString text = QStringLiteral(u"Caf\u00E9 \u00A0\u00FF\u00C0");
    QCOMPARE(toAnsi(text), QByteArray("Caf\xE9 \xA0\xFF\xC0"));
    QCOMPARE(fromAnsi(QByteArray("Caf\xE9 \xA0\xFF\xC0")), text);
}

void TestCodePage::unmapped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("C1 control without a code") << QString(QChar(0x0080)) << QByteArray("?");
    QTest::newRow("C1 control 9F") << QString(QChar(0x009F)) << QByteArray("?");
    QTest::newRow("A with macron") << QString(QChar(0x0100)) << QByteArray("?");
    QTest::newRow("CJK inside a text") << QStringLiteral(u"a\u4E2Db") << QByteArray("a?b");
    QTest::newRow("surrogate pair is one character")
        << QStringLiteral(u"x\U0001F600y") << QByteArray("x?y");
    QTest::newRow("two surrogate pairs") << QStringLiteral(u"\U0001F600\U0001F601") << QByteArray("??");
    QTest::newRow("lone high surrogate") << (QString(QChar(0xD83D)) + QLatin1Char('z')) << QByteArray("?z");
    QTest::newRow("lone low surrogate") << (QLatin1Char('z') + QString(QChar(0xDE00))) << QByteArray("z?");
    QTest::newRow("replacement character") << QString(QChar(0xFFFD)) << QByteArray("?");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestCodePage::unmapped()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(toAnsi(text), expected);
}

void TestCodePage::longTextSameAsCharByChar_data()
{
    // Long ASCII runs take a faster way through the encoder than single
    // characters do; an odd character anywhere in a run must not change that
    // character's byte or its neighbours'.
    QTest::addColumn<QString>("text");
    const QString smile = QString::fromUcs4(U"\U0001F600");
    for (int at : {0, 1, 31, 32, 33, 63, 64, 95}) {
        for (const QString &odd : {QStringLiteral("\u20AC"), QStringLiteral("\u00E9"), QStringLiteral("\u0100"), smile,
                                   QString(QChar(0xD83D))})
            QTest::addRow("U+%04X at %d", odd.at(0).unicode(), at) << QString(at, u'a') + odd + QString(70, u'b');
    }
    QTest::newRow("ASCII only, not a whole number of blocks") << QString(1000 + 7, u'x');
    QTest::newRow("code page only") << QString(100, QChar(0x20AC));
}

void TestCodePage::longTextSameAsCharByChar()
{
    QFETCH(QString, text);
    QByteArray expected;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        expected += runtime::toAnsi(QStringView(text).mid(i, pair ? 2 : 1));
        i += pair ? 1 : 0;
    }
    QCOMPARE(runtime::toAnsi(text), expected);
}

QTEST_APPLESS_MAIN(TestCodePage)
#include "test_codepage.moc"
