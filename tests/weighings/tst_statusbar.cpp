// The status bar as the operator sees it: where its panels lie, which tooltip the mouse finds,
// the colour of the link status, and the record count.

#include "weighings/statuspanels.h"
#include "weighings/tstatusbar.h"

#include <QScreen>
#include <QSet>
#include <QTest>
#include <QVBoxLayout>

namespace {

const QString PortTip = QStringLiteral("Конфигурация COM порта");
const QString LinkTip = QStringLiteral("Статус соединения");
const QString CountTip = QStringLiteral(
    "Общее количество отвесов в базе/общее количество отвесов подсчитанных терминалом");

// Middle row of the bar, clear of the frames' top and bottom lines.
constexpr int MidY = 9;

// Pixels of `area` that are not the background, by colour.
QSet<QRgb> inkColours(const QImage& image, const QRect& area, QRgb background) {
    QSet<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y) | 0xFF000000u;
            if (pixel != background)
                colours.insert(pixel);
        }
    }
    return colours;
}

// Leftmost and rightmost column of `area` with a pixel that is not the background; -1 if none.
std::pair<int, int> inkSpan(const QImage& image, const QRect& area, QRgb background) {
    int left = -1;
    int right = -1;
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if ((image.pixel(x, y) | 0xFF000000u) != background) {
                if (left < 0)
                    left = x;
                right = x;
                break;
            }
        }
    }
    return {left, right};
}

QString hex(QRgb rgb) {
    return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

} // namespace

class StatusBarTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void panels_lieAtTheirWidths_data();
    void panels_lieAtTheirWidths();
    void mouseMove_choosesTooltipByPanel_data();
    void mouseMove_choosesTooltipByPanel();
    void sweepFromPortIntoSparePanel_keepsRecordCountTooltip();
    void linkText_colouredByLinkState_data();
    void linkText_colouredByLinkState();
    void linkStateChange_repaintsOnScreen();
    void recordCount_textRightAligned_data();
    void recordCount_textRightAligned();

private:
    QImage grabBar() const { return m_bar->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QRgb background() const { return m_bar->palette().color(QPalette::Button).rgb(); }

    std::unique_ptr<QWidget> m_window;
    TStatusBar* m_bar = nullptr;
};

void StatusBarTest::init() {
    m_window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_bar = new TStatusBar(m_window.get());
    // Glyphs drawn without antialiasing have the pen's colour exactly, so a pixel tells the
    // colour of the text.
    QFont font = m_bar->font();
    font.setStyleStrategy(QFont::NoAntialias);
    m_bar->setFont(font);
    layout->addWidget(m_bar);
    m_window->resize(700, m_bar->height());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void StatusBarTest::cleanup() {
    m_window.reset();
    m_bar = nullptr;
}

void StatusBarTest::panels_lieAtTheirWidths_data() {
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("width");
    QTest::newRow("port") << 0 << 130;
    QTest::newRow("link") << 130 << 279;
    QTest::newRow("record count") << 409 << 137;
}

// Each of the first three panels is lowered: a dark line on its left, a light one on its right,
// then two pixels of the bar before the next panel.
void StatusBarTest::panels_lieAtTheirWidths() {
    QFETCH(int, left);
    QFETCH(int, width);
    const QPalette& pal = m_bar->palette();
    QVERIFY(pal.color(QPalette::Dark) != pal.color(QPalette::Button));
    QVERIFY(pal.color(QPalette::Light) != pal.color(QPalette::Button));

    const QImage image = grabBar();
    QCOMPARE(image.height(), 19);
    QCOMPARE(hex(image.pixel(left, MidY)), hex(pal.color(QPalette::Dark).rgb()));
    QCOMPARE(hex(image.pixel(left + width - 3, MidY)), hex(pal.color(QPalette::Light).rgb()));
    QCOMPARE(hex(image.pixel(left + width - 2, MidY)), hex(background()));
    QCOMPARE(hex(image.pixel(left + width - 1, MidY)), hex(background()));
    QCOMPARE(hex(image.pixel(left + 1, MidY)), hex(background()));
}

void StatusBarTest::mouseMove_choosesTooltipByPanel_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("port, left edge") << 300 << 0 << PortTip;
    QTest::newRow("port, last pixel") << 300 << 129 << PortTip;
    QTest::newRow("link, first pixel") << 0 << 130 << LinkTip;
    QTest::newRow("link, last pixel") << 0 << 408 << LinkTip;
    QTest::newRow("record count, first pixel") << 0 << 409 << CountTip;
    QTest::newRow("record count, last pixel") << 0 << 545 << CountTip;
    QTest::newRow("spare panel after link") << 200 << 546 << LinkTip;
    QTest::newRow("spare panel after port") << 10 << 595 << PortTip;
    QTest::newRow("beyond the panels after record count") << 500 << 690 << CountTip;
}

// The mouse goes to `from` and then straight to `to`; the tooltip is the one of the panel under
// `to`, or the one `from` set when `to` is right of the record count.
void StatusBarTest::mouseMove_choosesTooltipByPanel() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, tooltip);
    QTest::mouseMove(m_bar, QPoint(from, MidY));
    QTRY_VERIFY(!m_bar->toolTip().isEmpty());
    QTest::mouseMove(m_bar, QPoint(to, MidY));
    QTRY_COMPARE(m_bar->toolTip(), tooltip);
}

void StatusBarTest::sweepFromPortIntoSparePanel_keepsRecordCountTooltip() {
    for (int x = 5; x <= 585; x += 20)
        QTest::mouseMove(m_bar, QPoint(x, MidY));
    QTRY_COMPARE(m_bar->toolTip(), CountTip);
}

void StatusBarTest::linkText_colouredByLinkState_data() {
    QTest::addColumn<int>("linkState");
    QTest::addColumn<QString>("colour"); // empty: the button-text colour
    QTest::newRow("no answer: red") << 0 << QStringLiteral("#ff0000");
    QTest::newRow("exchanging: button text") << 1 << QString();
    QTest::newRow("stopped: maroon") << 2 << QStringLiteral("#800000");
    QTest::newRow("unknown state: button text") << 7 << QString();
}

// Every pixel of the link text has the state's colour; the port text next to it keeps the
// button-text colour.
void StatusBarTest::linkText_colouredByLinkState() {
    QFETCH(int, linkState);
    QFETCH(QString, colour);
    const QString buttonText = hex(m_bar->palette().color(QPalette::ButtonText).rgb());
    const QString expected = colour.isEmpty() ? buttonText : colour;
    QVERIFY(buttonText != QStringLiteral("#ff0000") && buttonText != QStringLiteral("#800000"));

    m_bar->setPanelText(StatusPanel::Port, QStringLiteral("COM1: 9600"));
    m_bar->setPanelText(StatusPanel::Link,
                        QStringLiteral("Статус соединения: терминал не отвечает"));
    m_bar->setLinkState(LinkState(linkState));
    const QImage image = grabBar();

    const QSet<QRgb> link = inkColours(image, QRect(133, 3, 271, 14), background());
    QVERIFY2(!link.isEmpty(), "no link text drawn");
    for (const QRgb rgb : link)
        QCOMPARE(hex(rgb), expected);
    const QSet<QRgb> port = inkColours(image, QRect(3, 3, 123, 14), background());
    QVERIFY2(!port.isEmpty(), "no port text drawn");
    for (const QRgb rgb : port)
        QCOMPARE(hex(rgb), buttonText);
}

// The window on screen, not a fresh rendering: a change of the state alone repaints the text.
void StatusBarTest::linkStateChange_repaintsOnScreen() {
    m_bar->setPanelText(StatusPanel::Link, QStringLiteral("Статус соединения: идет сбор данных"));
    const auto linkColours = [this] {
        QCoreApplication::processEvents();
        const QImage shot = m_window->screen()
                                ->grabWindow(m_window->winId())
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        const QPoint at = m_bar->mapTo(m_window.get(), QPoint(133, 3));
        return inkColours(shot, QRect(at, QSize(271, 14)), background());
    };
    m_bar->setLinkState(LinkState::NoAnswer);
    QTRY_COMPARE(linkColours(), QSet<QRgb>{0xFFFF0000u});
    m_bar->setLinkState(LinkState::Stopped);
    QTRY_COMPARE(linkColours(), QSet<QRgb>{0xFF800000u});
    m_bar->setLinkState(LinkState::Exchanging);
    QTRY_COMPARE(linkColours(), QSet<QRgb>{m_bar->palette().color(QPalette::ButtonText).rgb()});
}

void StatusBarTest::recordCount_textRightAligned_data() {
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<quint32>("counter");
    QTest::addColumn<QString>("text");
    QTest::newRow("125 rows, counter 340") << qint64(125) << 340u << QStringLiteral("125/340");
    QTest::newRow("empty table, nothing counted") << qint64(0) << 0u << QStringLiteral("0/0");
    QTest::newRow("largest counter") << qint64(7) << 4294967295u << QStringLiteral("7/4294967295");
}

// The text is the two numbers and a slash, nothing else, drawn against the panel's right edge.
void StatusBarTest::recordCount_textRightAligned() {
    QFETCH(qint64, rows);
    QFETCH(quint32, counter);
    QFETCH(QString, text);
    QCOMPARE(StatusPanels::recordCountText(rows, counter), text);

    m_bar->setPanelText(StatusPanel::RecordCount, StatusPanels::recordCountText(rows, counter));
    QCOMPARE(m_bar->panelText(StatusPanel::RecordCount), text);
    const auto [left, right] = inkSpan(grabBar(), QRect(411, 3, 132, 14), background());
    QVERIFY2(left > 411 + 20, qPrintable(QString::number(left)));
    QVERIFY2(right >= 536 && right <= 542, qPrintable(QString::number(right)));
}

QTEST_MAIN(StatusBarTest)
#include "tst_statusbar.moc"
