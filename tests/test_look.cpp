// The look of the three windows, checked on their rendered pixels where a
// fault would show: stacking, hidden controls, colours, picture placement and
// text layout. Each window is also written as a PNG into
// $VELTRANE_BUILD_DIR/look/ for a person to look at.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "editor/Form2.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QtTest>

#if __has_include("splash/frmSplash.h")
#include "splash/frmSplash.h"
#define HAVE_SPLASH 1
#endif

using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Apex Circuit Racing/UserData/game.Gdb");
const QColor kNavy(0, 0, 128);

QImage grabbed(QWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void keep(const QImage &image, const QString &name)
{
    const QString build = qEnvironmentVariable("VELTRANE_BUILD_DIR");
    if (build.isEmpty())
        return;
    const QString dir = build + QStringLiteral("/look");
    QDir().mkpath(dir);
    QVERIFY(image.save(dir + QLatin1Char('/') + name));
}

bool near(QRgb a, QRgb b, int tolerance = 0)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
        && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A run of pixel rows that hold ink, with the ink's horizontal extent.
struct Band {
    int top, bottom, left, right;
};

// isInk(x, y) tells whether the pixel at x, y holds ink.
template <class Pred> QList<Band> inkBandsAt(const QRect &area, Pred isInk)
{
    QList<Band> bands;
    bool open = false;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int left = -1, right = -1;
        for (int x = area.left(); x <= area.right(); ++x) {
            if (isInk(x, y)) {
                if (left < 0)
                    left = x;
                right = x;
            }
        }
        if (left < 0) {
            open = false;
            continue;
        }
        if (!open) {
            bands.append({y, y, left, right});
            open = true;
        } else {
            Band &b = bands.last();
            b.bottom = y;
            b.left = qMin(b.left, left);
            b.right = qMax(b.right, right);
        }
    }
    return bands;
}

template <class Pred> QList<Band> inkBands(const QImage &img, const QRect &area, Pred isInk)
{
    return inkBandsAt(area, [&](int x, int y) { return isInk(img.pixel(x, y)); });
}

QString describe(const QList<Band> &bands)
{
    QStringList parts;
    for (const Band &b : bands)
        parts << QStringLiteral("[y %1-%2 x %3-%4]").arg(b.top).arg(b.bottom).arg(b.left).arg(b.right);
    return parts.join(' ');
}

bool isOrange(QRgb p) // RGB 255,128,0 and its blends with black
{
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    return r >= 90 && b * 3 <= r && g * 4 >= r && g * 4 <= r * 3;
}

bool isRed(QRgb p)
{
    const int r = qRed(p);
    return r >= 90 && qGreen(p) * 4 <= r && qBlue(p) * 4 <= r;
}

// What share of the area has exactly this colour.
double share(const QImage &img, const QRect &area, QRgb colour)
{
    int hits = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            hits += img.pixel(x, y) == colour;
    return double(hits) / (area.width() * area.height());
}

// Every pixel of the area is the band's navy, or lies between navy and the
// band's text colour (its letters, smoothed): nothing else is drawn there.
QString bandOnly(const QImage &img, const QRect &area, QRgb text)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            const int span = qBlue(text) - kNavy.blue();
            const double t = span ? double(qBlue(p) - kNavy.blue()) / span : 0.0;
            const QRgb expected = qRgb(qRound(kNavy.red() + t * (qRed(text) - kNavy.red())),
                                       qRound(kNavy.green() + t * (qGreen(text) - kNavy.green())),
                                       qBlue(p));
            if (t < -0.05 || t > 1.05 || !near(p, expected, 24))
                return QStringLiteral("pixel %1,%2 is #%3").arg(x).arg(y).arg(p & 0xFFFFFF, 6, 16, QChar('0'));
        }
    if (share(img, area, kNavy.rgb()) < 0.4)
        return QStringLiteral("mostly not navy");
    return {};
}

struct Session {
    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 *form = nullptr;
    Session()
    {
        prefix.write(kDataRel, "RACELAPS = 58\r\nQUALIFYLAPS = 12\r\n");
        runtime::dispatch([] { global<Form1>().Show(); });
        form = &global<Form1>();
    }
};

} // namespace

class TestLook : public QObject {
    Q_OBJECT
private slots:
    void mainWindow();
    void mainWindowHint();
    void helpWindow();
    void helpWindowMadeLarger();
    void splashWindow();
};

void TestLook::mainWindow()
{
    Session s;
    Form1 &f = *s.form;
    QVERIFY(s.rec.reports.isEmpty());
    const QImage img = grabbed(f);
    keep(img, QStringLiteral("Form1.png"));
    QCOMPARE(img.size(), QSize(636, 467));

    // The background picture, unscaled from the top-left corner, where no
    // control lies; and the hidden hint's box shows nothing but the picture.
    QImage picture(QStringLiteral(":/pictures/background.bmp"));
    QCOMPARE(picture.size(), QSize(639, 480));
    picture = picture.convertToFormat(QImage::Format_RGB32);
    const QList<QRect> bare = {QRect(0, 0, 636, 8), QRect(0, 0, 8, 432), QRect(554, 0, 82, 368),
                               QRect(112, 8, 441, 33)};
    for (const QRect &area : bare)
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                QVERIFY2(img.pixel(x, y) == picture.pixel(x, y),
                         qPrintable(QString("background at %1,%2").arg(x).arg(y)));

    // The navy title band along the bottom, edge to edge.
    const QRect band(8, 432, 625, 33);
    for (int x : {10, 11, band.right() - 2, band.right() - 1})
        for (int y = band.top() + 2; y <= band.bottom() - 2; ++y)
            QVERIFY2(img.pixel(x, y) == kNavy.rgb(), qPrintable(QString("%1,%2").arg(x).arg(y)));
    for (int y : {band.top() + 2, band.bottom() - 2})
        QVERIFY2(share(img, QRect(band.left() + 2, y, band.width() - 4, 1), kNavy.rgb()) == 1.0,
                 qPrintable(QString("row %1").arg(y)));

    // Nothing of the three hidden controls inside the band.
    const QRgb bandText = f.ui.Label4->palette().color(QPalette::WindowText).rgb();
    const QList<std::pair<QWidget *, QRect>> hidden = {
        {f.ui.TxtPath, QRect(168, 440, 73, 19)},
        {f.ui.TxtFile, QRect(248, 440, 65, 19)},
        {f.ui.lblResult, QRect(336, 440, 281, 17)},
    };
    for (const auto &[control, area] : hidden) {
        QVERIFY(!control->isVisible());
        const QString fault = bandOnly(img, area, bandText);
        QVERIFY2(fault.isEmpty(), qPrintable(control->objectName() + ": " + fault));
        // The probe does see the control once it is on the screen.
        control->show();
        const QString seen = bandOnly(grabbed(f), area, bandText);
        control->hide();
        QVERIFY2(!seen.isEmpty(), qPrintable(control->objectName() + " shown but not seen"));
    }

    // The two highlight squares, 9 x 9 each, sharing the row y = 312: their
    // insides are highlight, and their edges (a border, or highlight when
    // they have none) lie on rows 304, 312 and 320 alike, so the shared row
    // is one row, neither a gap nor a doubled edge.
    const QRgb highlight = f.ui.Label2->palette().color(QPalette::Highlight).rgb();
    for (int y = 305; y <= 319; ++y)
        for (int x = 33; x <= 39; ++x)
            if (y != 312)
                QVERIFY2(img.pixel(x, y) == highlight, qPrintable(QString("%1,%2").arg(x).arg(y)));
    const QRgb edge = img.pixel(36, 320);
    for (int x = 33; x <= 39; ++x)
        for (int y : {304, 312, 320})
            QVERIFY2(img.pixel(x, y) == edge, qPrintable(QString("edge at %1,%2").arg(x).arg(y)));
    for (int y = 305; y <= 319; ++y)
        for (int x : {32, 40})
            QVERIFY2(img.pixel(x, y) == edge, qPrintable(QString("edge at %1,%2").arg(x).arg(y)));
    // Around the squares the frame's inside shows, not the squares.
    for (int y = 303; y <= 321; ++y)
        for (int x : {30, 31, 41, 42})
            QVERIFY2(img.pixel(x, y) != highlight && img.pixel(x, y) != edge,
                     qPrintable(QString("%1,%2").arg(x).arg(y)));
    for (int x = 31; x <= 41; ++x)
        for (int y : {302, 303, 321, 322})
            QVERIFY2(img.pixel(x, y) != highlight && img.pixel(x, y) != edge,
                     qPrintable(QString("%1,%2").arg(x).arg(y)));

    // The editing box is drawn over the first column of the support line.
    const QImage box = grabbed(*f.ui.TxtTesto);
    QCOMPARE(box.width(), 441);
    int compared = 0;
    for (int y = 368; y < 368 + 49; ++y) {
        QCOMPARE(img.pixel(552, y), box.pixel(440, y - 48));
        ++compared;
    }
    QVERIFY(compared > 0);
}

void TestLook::mainWindowHint()
{
    Session s;
    Form1 &f = *s.form;
    const QImage hidden = grabbed(f);
    f.Label2_MouseMove();
    QVERIFY(f.ui.Label1->isVisible());
    const QImage shown = grabbed(f);
    keep(shown, QStringLiteral("Form1-hint.png"));

    // Transparent: only the letters differ from the picture behind them.
    const QRect area(112, 8, 441, 33);
    auto changed = [&](int x, int y) { return shown.pixel(x, y) != hidden.pixel(x, y); };
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += changed(x, y);
    QVERIFY2(count > 0 && count < area.width() * area.height() / 4, qPrintable(QString::number(count)));
    // Nothing drawn outside the hint's box.
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 636; ++x)
            if (!area.contains(x, y))
                QVERIFY2(!changed(x, y), qPrintable(QString("%1,%2").arg(x).arg(y)));

    // Two lines, each centred in the box.
    const QList<Band> lines = inkBandsAt(area, changed);
    QVERIFY2(lines.size() == 2, qPrintable(describe(lines)));
    for (const Band &b : lines) {
        const int leftMargin = b.left - area.left();
        const int rightMargin = area.right() - b.right;
        QVERIFY2(qAbs(leftMargin - rightMargin) <= 4, qPrintable(describe(lines)));
    }
    // The two lines together hold the whole caption's width.
    const QFontMetrics fm(f.ui.Label1->font());
    const int inked = (lines[0].right - lines[0].left) + (lines[1].right - lines[1].left);
    const int caption = fm.horizontalAdvance(f.ui.Label1->text().trimmed());
    QVERIFY2(qAbs(inked + fm.horizontalAdvance(' ') - caption) <= 8,
             qPrintable(QString("%1 vs %2").arg(inked).arg(caption)));
}

void TestLook::helpWindow()
{
    Session s;
    QTest::mouseClick(s.form->ui.Command5, Qt::LeftButton);
    Form2 &help = global<Form2>();
    QVERIFY(help.isVisible());
    const QImage img = grabbed(help);
    keep(img, QStringLiteral("Form2.png"));
    QCOMPARE(img.size(), QSize(466, 473));

    // The picture unscaled at the top-left, black around it: compare the
    // strips where no text lies.
    QImage picture(QStringLiteral(":/pictures/help.jpg"));
    QCOMPARE(picture.size(), QSize(362, 370));
    picture = picture.convertToFormat(QImage::Format_RGB32);
    for (int x = 0; x < 466; ++x)
        for (int y = 0; y < 8; ++y)
            QVERIFY2(img.pixel(x, y) == (x < 362 ? picture.pixel(x, y) : qRgb(0, 0, 0)),
                     qPrintable(QString("%1,%2").arg(x).arg(y)));
    for (int y = 0; y < 473; ++y)
        for (int x = 0; x < 8; ++x)
            QVERIFY2(img.pixel(x, y) == (y < 370 ? picture.pixel(x, y) : qRgb(0, 0, 0)),
                     qPrintable(QString("%1,%2").arg(x).arg(y)));

    // The red title: one line, centred in its box.
    const QRect titleBox(64, 8, 337, 25);
    const QList<Band> title = inkBands(img, titleBox, isRed);
    QVERIFY2(title.size() == 1, qPrintable(describe(title)));
    QVERIFY(qAbs((title[0].left - titleBox.left()) - (titleBox.right() - title[0].right)) <= 3);
    const QFontMetrics titleFm(help.ui.Label1->font());
    QVERIFY2(qAbs(title[0].right - title[0].left + 1 - titleFm.horizontalAdvance(help.ui.Label1->text())) <= 3,
             qPrintable(describe(title)));
    QVERIFY(inkBands(img, QRect(0, 33, 466, 440), isRed).isEmpty());

    // The orange help text: its lines in their rows, with the seven empty
    // lines before the closing paragraph.
    const QRect textBox(8, 40, 457, 433);
    const QList<Band> bands = inkBands(img, textBox, isOrange);
    QVERIFY(inkBands(img, QRect(0, 0, 466, 40), isOrange).isEmpty());
    const QStringList lines = help.ui.Label2->text().split('\n');
    QCOMPARE(lines.size(), 24);
    const QFontMetricsF fm(help.ui.Label2->font());
    // A line that holds no text shows no ink; one that does shows one band.
    QList<int> expectedRows;
    for (int i = 0; i < lines.size(); ++i)
        if (!lines[i].trimmed().isEmpty())
            expectedRows << i;
    QCOMPARE(expectedRows, (QList<int>{0, 2, 4, 6, 8, 10, 12, 20, 21, 22, 23}));
    // The last piece names the simulator and may not fit the label's width;
    // it then goes on, at a word boundary, on one line more.
    const bool lastWraps = fm.horizontalAdvance(lines.last().trimmed()) > textBox.width();
    if (lastWraps)
        expectedRows << 24;
    QVERIFY2(bands.size() == expectedRows.size(), qPrintable(describe(bands)));
    const qreal pitch = fm.lineSpacing();
    QList<int> rows;
    for (const Band &b : bands)
        rows << qRound((b.top - bands.first().top) / pitch);
    QCOMPARE(rows, expectedRows);

    // Each line starts at the left edge, the first one after its three
    // blanks, and is as wide as its text with every blank kept.
    for (int i = 0; i < bands.size(); ++i) {
        const Band &b = bands[i];
        const int row = expectedRows[i];
        const QString why = QStringLiteral("line %1: %2").arg(row + 1).arg(describe({b}));
        const int indent = row == 0 ? qRound(fm.horizontalAdvance(QStringLiteral("   "))) : 0;
        QVERIFY2(b.left - textBox.left() >= indent && b.left - textBox.left() <= indent + 2, qPrintable(why));
        if (row >= lines.size() || (lastWraps && row == lines.size() - 1))
            continue;
        QString text = lines[row];
        while (text.endsWith(' '))
            text.chop(1);
        const qreal end = textBox.left() + fm.horizontalAdvance(text);
        QVERIFY2(qAbs(b.right + 1 - end) <= 3, qPrintable(why + QString(" text ends at %1").arg(end)));
    }
}

void TestLook::helpWindowMadeLarger()
{
    Session s;
    QTest::mouseClick(s.form->ui.Command5, Qt::LeftButton);
    Form2 &help = global<Form2>();
    const QImage stored = grabbed(help);
    help.resize(700, 600);
    const QImage large = grabbed(help);
    keep(large, QStringLiteral("Form2-large.png"));
    QCOMPARE(large.size(), QSize(700, 600));
    // The same picture and text where they were; black beyond.
    QCOMPARE(large.copy(0, 0, 466, 473), stored);
    for (const QPoint p : {QPoint(466, 0), QPoint(699, 0), QPoint(600, 300), QPoint(0, 599), QPoint(699, 599)})
        QVERIFY2(large.pixel(p) == qRgb(0, 0, 0), qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
}

void TestLook::splashWindow()
{
#ifndef HAVE_SPLASH
    QSKIP("the start-up window is not part of this build");
#else
    testing::Recorder rec;
    runtime::dispatch([] { global<frmSplash>().Show(); });
    frmSplash &splash = global<frmSplash>();
    QVERIFY(splash.isVisible());
    const QImage img = grabbed(splash);
    keep(img, QStringLiteral("frmSplash.png"));

    QCOMPARE(splash.ui.lblVersion->text(), QString("Version 1.0.0"));
    QCOMPARE(splash.ui.lblProductName->text(), QString("Veltrane Editor"));

    // The raised dialog frame, 3 rings of one colour each along every edge:
    // top and left lighter than bottom and right on the two outer rings, the
    // button face on the inner one. Nothing of the client area reaches into
    // it (Frame1 is 1 pixel larger than the client area).
    QCOMPARE(img.size(), QSize(501, 283));
    const int w = img.width(), h = img.height();
    auto lightness = [](QRgb p) { return qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114; };
    auto oneColour = [&](QRect line, QRgb &colour) {
        colour = img.pixel(line.topLeft());
        for (int y = line.top(); y <= line.bottom(); ++y)
            for (int x = line.left(); x <= line.right(); ++x)
                if (img.pixel(x, y) != colour)
                    return QStringLiteral("%1,%2").arg(x).arg(y);
        return QString();
    };
    for (int ring = 0; ring < 3; ++ring) {
        const int near = ring, farX = w - 1 - ring, farY = h - 1 - ring;
        QRgb top, left, bottom, right;
        QString where;
        QVERIFY2((where = oneColour(QRect(QPoint(near, near), QPoint(farX - 1, near)), top)).isEmpty(),
                 qPrintable(QString("ring %1, top edge: %2").arg(ring).arg(where)));
        QVERIFY2((where = oneColour(QRect(QPoint(near, near), QPoint(near, farY - 1)), left)).isEmpty(),
                 qPrintable(QString("ring %1, left edge: %2").arg(ring).arg(where)));
        QVERIFY2((where = oneColour(QRect(QPoint(near, farY), QPoint(farX, farY)), bottom)).isEmpty(),
                 qPrintable(QString("ring %1, bottom edge: %2").arg(ring).arg(where)));
        QVERIFY2((where = oneColour(QRect(QPoint(farX, near), QPoint(farX, farY)), right)).isEmpty(),
                 qPrintable(QString("ring %1, right edge: %2").arg(ring).arg(where)));
        QCOMPARE(top, left);
        QCOMPARE(bottom, right);
        if (ring < 2)
            QVERIFY2(lightness(top) > lightness(bottom), qPrintable(QString("ring %1").arg(ring)));
        else
            QCOMPARE(top, bottom);
    }
    const QPoint client(3, 3);

    // The picture where it was in the client area (8, 56), drawn inside the
    // box's own border, its transparent pixels showing the box's colour.
    QImage gif(QStringLiteral(":/pictures/splash.gif"));
    QCOMPARE(gif.size(), QSize(200, 138));
    gif = gif.convertToFormat(QImage::Format_ARGB32);
    const QRect inside = splash.ui.Picture1->contentsRect();
    const QPoint picture = client + QPoint(8, 56) + inside.topLeft();
    const QRgb boxColour = splash.ui.Picture1->palette().color(QPalette::Highlight).rgb();
    for (int y = 0; y < qMin(gif.height(), inside.height()); ++y)
        for (int x = 0; x < qMin(gif.width(), inside.width()); ++x) {
            const QRgb g = gif.pixel(x, y);
            const QRgb expected = qAlpha(g) == 255 ? (g | 0xFF000000) : boxColour;
            QVERIFY2(img.pixel(picture + QPoint(x, y)) == expected,
                     qPrintable(QString("picture pixel %1,%2").arg(x).arg(y)));
        }
    // The warning line's text starts at its stored left edge (10, 244).
    const QRect warning(client + QPoint(10, 244), QSize(457, 13));
    const QRgb face = img.pixel(warning.topLeft());
    const QList<Band> warningInk = inkBands(img, warning, [face](QRgb p) { return !near(p, face, 60); });
    QVERIFY2(!warningInk.isEmpty(), "no warning text");
    QVERIFY2(warningInk.first().left - warning.left() <= 2, qPrintable(describe(warningInk)));
    QVERIFY(inkBands(img, QRect(warning.topLeft() - QPoint(7, 0), QSize(7, 13)),
                     [face](QRgb p) { return !near(p, face, 60); }).isEmpty());

    // The new captions are on the screen in full: their ink is as wide as
    // the new texts, wider than the stored ones.
    struct Check {
        QLabel *label;
        QString stored;
    };
    for (const Check &c : {Check{splash.ui.lblVersion, QStringLiteral("Version 1.0")},
                           Check{splash.ui.lblProductName, QStringLiteral("Veltrane Editor  ")}}) {
        const QRect area(c.label->mapTo(&splash, QPoint(0, 0)), c.label->size());
        const QRgb back = img.pixel(area.topLeft());
        const QList<Band> ink = inkBands(img, area.intersected(img.rect()), [back](QRgb p) {
            return !near(p, back, 60);
        });
        QVERIFY2(!ink.isEmpty(), qPrintable(c.label->objectName()));
        int left = ink.first().left, right = ink.first().right;
        for (const Band &b : ink) {
            left = qMin(left, b.left);
            right = qMax(right, b.right);
        }
        const QFontMetrics fm(c.label->font());
        const int shown = right - left + 1;
        const QString why = QStringLiteral("%1: ink %2 wide").arg(c.label->objectName()).arg(shown);
        QVERIFY2(qAbs(shown - fm.horizontalAdvance(c.label->text())) <= 4, qPrintable(why));
        if (c.label == splash.ui.lblVersion)
            QVERIFY2(shown > fm.horizontalAdvance(c.stored) + 4, qPrintable(why));
    }
#endif
}

QTEST_MAIN(TestLook)
#include "test_look.moc"
