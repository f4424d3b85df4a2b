#include "ui/Fonts.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>

namespace tapforge::ui {

namespace {
// A sample of the window's own characters, common and rare ones.
const QString kSample = QStringLiteral("录制播放暂停脚本步骤运行日志设置模板库热键清除");
}

bool fontCovers(const QFont& font, const QString& text) {
    QFontMetrics metrics(font);
    for (char32_t c : text.toUcs4())
        if (!metrics.inFontUcs4(c)) return false;
    return true;
}

QString ensureChineseFont() {
    QFont font = QApplication::font();
    if (fontCovers(font, kSample)) return font.family();
    QStringList candidates{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC")};
    candidates += QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const auto& family : candidates) {
        if (!QFontDatabase::hasFamily(family)) continue;
        QFont cjk(family, font.pointSize());
        if (!fontCovers(cjk, kSample)) continue;
        QApplication::setFont(cjk);
        return family;
    }
    return {};
}

}  // namespace tapforge::ui
