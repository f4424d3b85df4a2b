#include "ui/Icons.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include <cassert>

namespace tapforge::ui {

const std::vector<IconEntry>& iconTable() {
    static const std::vector<IconEntry> table{
        // toolbar
        {"record.circle", "media-record", "●"},
        {"stop.circle.fill", "media-playback-stop", "■"},
        {"play.fill", "media-playback-start", "▶"},
        {"stop.fill", "media-playback-stop", "■"},
        {"pause.fill", "media-playback-pause", "‖"},
        {"playpause.fill", "media-playback-start", "▶‖"},
        {"plus", "list-add", "+"},
        {"arrow.up", "go-up", "↑"},
        {"arrow.down", "go-down", "↓"},
        {"plus.square.on.square", "edit-copy", "❐"},
        {"trash", "edit-delete", "✕"},
        {"photo.stack", "image-x-generic", "▣"},
        {"doc", "text-x-generic", "▤"},
        // step kinds
        {"clock", "appointment-soon", "◷"},
        {"cursorarrow.click", "input-mouse", "↖"},
        {"cursorarrow.motionlines", "input-mouse", "⇢"},
        {"computermouse", "input-mouse", "◎"},
        {"keyboard", "input-keyboard", "⌨"},
        {"text.cursor", "insert-text", "T"},
        {"eyedropper", "color-select", "◉"},
        {"photo.on.rectangle.angled", "image-x-generic", "▨"},
        {"chevron.left.forwardslash.chevron.right", "text-x-script", "</>"},
        {"arrow.turn.down.right", "go-jump", "↳"},
        {"text.bubble", "format-justify-left", "¶"},
        // list, banner, sheets
        {"arrowtriangle.right.fill", "go-next", "▶"},
        {"exclamationmark.triangle.fill", "dialog-warning", "⚠"},
        {"list.bullet.rectangle", "view-list", "☰"},
        {"square.dashed", "edit-select-all", "□"},
        {"eraser", "edit-clear", "⌫"},
        {"gearshape", "preferences-system", "⚙"},
        {"gearshape.fill", "preferences-system", "⚙"},
        {"xmark.circle.fill", "window-close", "✖"},
        {"camera.viewfinder", "camera-photo", "◙"},
        {"arrow.clockwise", "view-refresh", "↻"},
        {"checkmark.circle", "object-select", "✔"},
        {"checkmark.circle.fill", "emblem-ok", "✔"},
        {"stethoscope", "dialog-information", "ℹ"},
    };
    return table;
}

namespace {

const IconEntry* find(std::string_view symbol) {
    for (const auto& e : iconTable())
        if (e.symbol == symbol) return &e;
    return nullptr;
}

// The first installed font that has every character of `text`; fontconfig would substitute
// one anyway, but a font without the glyph draws an empty box.
QFont glyphFont(const QString& text) {
    static const QStringList families{"DejaVu Sans", "Noto Sans CJK SC", "Noto Sans Symbols2", "Noto Sans"};
    for (const auto& family : families) {
        if (!QFontDatabase::hasFamily(family)) continue;
        QFont font(family);
        QFontMetrics metrics(font);
        bool all = true;
        for (char32_t c : text.toUcs4())
            if (!metrics.inFontUcs4(c)) all = false;
        if (all) return font;
    }
    return QGuiApplication::font();
}

QPixmap paintGlyph(const QString& text, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont font = glyphFont(text);
    font.setPixelSize(text.size() > 1 ? size * 9 / 16 : size * 13 / 16);
    p.setFont(font);
    p.setPen(QGuiApplication::palette().color(QPalette::WindowText));
    p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, text);
    return pixmap;
}

QIcon fallbackIcon(const QString& glyph) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) icon.addPixmap(paintGlyph(glyph, size));
    return icon;
}

}  // namespace

QIcon icon(std::string_view symbol, IconSource source) {
    static QHash<QString, QIcon> cache;
    const IconEntry* entry = find(symbol);
    assert(entry && "icon symbol missing from the table");
    const QString glyph = entry ? QString::fromUtf8(entry->glyph) : QStringLiteral("•");
    if (source == IconSource::fallbackOnly) return fallbackIcon(glyph);
    const QString key = QString::fromUtf8(symbol.data(), qsizetype(symbol.size()));
    if (auto it = cache.constFind(key); it != cache.constEnd()) return *it;
    QIcon result = entry ? QIcon::fromTheme(QString::fromLatin1(entry->themeName)) : QIcon();
    if (result.isNull() || result.pixmap(16).isNull())
        result = fallbackIcon(glyph);
    cache.insert(key, result);
    return result;
}

void setUpIconTheme() {
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
}

}  // namespace tapforge::ui
