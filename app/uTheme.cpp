// The dark look of the reader and the optional palette file.
#include "uTheme.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringConverter>
#include <QStyleFactory>

#include <tuple>

const char *const BuiltInThemeName = "Windows10 Dark";
const char *const ThemeFileName = "Windows10Dark.vsf";

namespace {

constexpr qint64 MaxThemeFileSize = 64 * 1024;

const QHash<QString, QPalette::ColorRole> &RoleNames()
{
    static const QHash<QString, QPalette::ColorRole> names = {
        {QStringLiteral("Window"), QPalette::Window},
        {QStringLiteral("WindowText"), QPalette::WindowText},
        {QStringLiteral("Base"), QPalette::Base},
        {QStringLiteral("AlternateBase"), QPalette::AlternateBase},
        {QStringLiteral("ToolTipBase"), QPalette::ToolTipBase},
        {QStringLiteral("ToolTipText"), QPalette::ToolTipText},
        {QStringLiteral("PlaceholderText"), QPalette::PlaceholderText},
        {QStringLiteral("Text"), QPalette::Text},
        {QStringLiteral("Button"), QPalette::Button},
        {QStringLiteral("ButtonText"), QPalette::ButtonText},
        {QStringLiteral("BrightText"), QPalette::BrightText},
        {QStringLiteral("Light"), QPalette::Light},
        {QStringLiteral("Midlight"), QPalette::Midlight},
        {QStringLiteral("Mid"), QPalette::Mid},
        {QStringLiteral("Dark"), QPalette::Dark},
        {QStringLiteral("Shadow"), QPalette::Shadow},
        {QStringLiteral("Highlight"), QPalette::Highlight},
        {QStringLiteral("HighlightedText"), QPalette::HighlightedText},
        {QStringLiteral("Link"), QPalette::Link},
        {QStringLiteral("LinkVisited"), QPalette::LinkVisited},
    };
    return names;
}

} // namespace

QPalette DarkPalette()
{
    QPalette p;
    const QColor face(43, 43, 43);
    const QColor base(25, 25, 25);
    const QColor text(240, 240, 240);
    const QColor disabledText(128, 128, 128);
    p.setColor(QPalette::Window, face);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(38, 38, 38));
    p.setColor(QPalette::ToolTipBase, QColor(50, 50, 50));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(51, 51, 51));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 80, 80));
    p.setColor(QPalette::Light, QColor(70, 70, 70));
    p.setColor(QPalette::Midlight, QColor(60, 60, 60));
    p.setColor(QPalette::Mid, QColor(45, 45, 45));
    p.setColor(QPalette::Dark, QColor(20, 20, 20));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::Highlight, QColor(0, 120, 215));
    p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    p.setColor(QPalette::Link, QColor(90, 160, 255));
    p.setColor(QPalette::LinkVisited, QColor(170, 120, 255));
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 70));
    return p;
}

bool ApplyDarkTheme(QApplication &AApp)
{
    QStyle *style = QStyleFactory::create(QStringLiteral("Fusion"));
    if (!style)
        return false;
    AApp.setStyle(style);  // the application takes ownership
    AApp.setPalette(DarkPalette());
    return true;
}

bool ParseThemeFile(const QByteArray &AData, QPalette &APalette)
{
    if (AData.size() > MaxThemeFileSize)
        return false;
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(AData);
    if (decoder.hasError())
        return false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    static const QRegularExpression entry(
        QStringLiteral("^([A-Za-z]+)(?:\\.(Active|Inactive|Disabled))?\\s*=\\s*#([0-9A-Fa-f]{6})$"));
    QPalette result = DarkPalette();
    QSet<QString> seen;
    QList<QPair<QPalette::ColorRole, QColor>> allGroups;
    QList<std::tuple<QPalette::ColorGroup, QPalette::ColorRole, QColor>> oneGroup;
    bool headerSeen = false;
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = line.trimmed();
        if (!headerSeen) {
            if (line != QLatin1String("VornakReaderTheme 1"))
                return false;
            headerSeen = true;
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        const QRegularExpressionMatch m = entry.match(line);
        if (!m.hasMatch())
            return false;
        const auto role = RoleNames().constFind(m.captured(1));
        if (role == RoleNames().constEnd())
            return false;
        const QString key = m.captured(1) + QLatin1Char('.') + m.captured(2);
        if (seen.contains(key))
            return false;
        seen.insert(key);
        const QColor colour(QLatin1Char('#') + m.captured(3));
        const QString group = m.captured(2);
        if (group.isEmpty())
            allGroups.append({*role, colour});
        else
            oneGroup.append({group == QLatin1String("Active")     ? QPalette::Active
                             : group == QLatin1String("Inactive") ? QPalette::Inactive
                                                                  : QPalette::Disabled,
                             *role, colour});
    }
    if (!headerSeen)
        return false;
    // A role without a group sets all three groups; a role with a group refines it, whatever the order.
    for (const auto &e : allGroups)
        result.setColor(e.first, e.second);
    for (const auto &e : oneGroup)
        result.setColor(std::get<0>(e), std::get<1>(e), std::get<2>(e));
    APalette = result;
    return true;
}

bool LoadStyleFile(QApplication &AApp, const QString &APath)
{
    QFile f(APath);
    if (!f.exists() || f.size() > MaxThemeFileSize || !f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = f.read(MaxThemeFileSize + 1);
    if (f.error() != QFileDevice::NoError)
        return false;
    QPalette p;
    if (!ParseThemeFile(data, p))
        return false;
    AApp.setPalette(p);
    return true;
}
