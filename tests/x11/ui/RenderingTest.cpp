// What the X server shows: every Chinese label of the main window and its two sheets drawn with
// a font that has its glyphs (no empty boxes) and leaving ink on screen; every icon drawable
// without any icon theme. The screenshots are kept next to the test binary (ui-screens/).
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "UiTestSupport.h"
#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "ui/SettingsSheet.h"
#include "ui/TemplateLibrarySheet.h"

namespace tapforge::testing {
namespace {

QString chineseOf(const QString& text) {
    QString out;
    for (QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) out += c;
    return out;
}

// Pixels of `rect` that differ clearly from its top-left corner (the background).
int inkIn(const QImage& image, const QRect& rect) {
    const QRect r = rect.intersected(image.rect());
    if (r.isEmpty()) return 0;
    const QColor background = image.pixelColor(r.topLeft());
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                    std::abs(c.blue() - background.blue()) > 120)
                ++ink;
        }
    return ink;
}

void checkChineseLabels(QWidget* top, const char* name) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    QTest::qWait(200);   // let the server finish drawing
    const QImage shot = top->screen()->grabWindow(top->winId()).toImage();
    ASSERT_FALSE(shot.isNull());
    const QString dir = QCoreApplication::applicationDirPath() + "/ui-screens";
    QDir().mkpath(dir);
    shot.save(dir + "/" + name + ".png");

    int checked = 0;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != top) continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w)) text = button->text();
        const QString chinese = chineseOf(text);
        if (chinese.isEmpty()) continue;
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(ui::fontCovers(w->font(), chinese)) << w->font().family().toStdString();
        const QRect rect(w->mapTo(top, QPoint(0, 0)) * shot.devicePixelRatio(), w->size() * shot.devicePixelRatio());
        EXPECT_GT(inkIn(shot, rect), 6 * chinese.size());
        ++checked;
    }
    EXPECT_GT(checked, 5) << name;
}

TEST_F(WindowTest, ChineseLabelsOfTheWindowAndItsSheetsAreDrawn) {
    checkChineseLabels(window.get(), "main-window");
    state->setShowsSettings(true);
    checkChineseLabels(window->settingsSheet(), "settings-sheet");
    state->setShowsSettings(false);
    window->showTemplateLibrary(true);
    checkChineseLabels(window->templateLibrarySheet(), "template-library");
}

TEST(Icons, EverySymbolHasAVisibleFallbackWithoutATheme) {
    for (const auto& entry : ui::iconTable()) {
        SCOPED_TRACE(std::string(entry.symbol));
        const QImage image = ui::icon(entry.symbol, ui::IconSource::fallbackOnly).pixmap(24).toImage();
        ASSERT_FALSE(image.isNull());
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(opaque, 8);
    }
    for (const auto& c : EnumTable<StepKind>::cases) {
        const auto symbol = iconName(c.value);
        EXPECT_TRUE(std::any_of(ui::iconTable().begin(), ui::iconTable().end(),
                                [&](const ui::IconEntry& e) { return e.symbol == symbol; }))
            << symbol;
    }
}

}  // namespace
}  // namespace tapforge::testing
