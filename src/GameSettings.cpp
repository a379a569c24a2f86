#include "GameSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace {

QString memberText(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

bool isPositiveNumber(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value > 0;
}

// Truncated toward zero. A number beyond int saturates instead of converting to nothing defined;
// it stays outside the three levels, so it recommends none, as 7 does.
int qualityLevel(double number)
{
    using Limits = std::numeric_limits<int>;
    if (number >= double(Limits::max()))
        return Limits::max();
    if (number > double(Limits::min()))
        return int(number);
    return Limits::min();
}

} // namespace

ResolutionFile ResolutionFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.readAll());
}

ResolutionFile ResolutionFile::parse(const QByteArray &json)
{
    ResolutionFile result;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return result;
    const QJsonObject root = document.object();
    if (root.isEmpty() || !root.contains(QLatin1String("defualtQuilty"))
        || !root.contains(QLatin1String("outputResolution")))
        return result;

    result.quality = qualityLevel(root.value(QLatin1String("defualtQuilty")).toDouble(0));
    result.fog = root.value(QLatin1String("defualtEnableFog")).toBool(false);

    const QJsonArray elements = root.value(QLatin1String("outputResolution")).toArray();
    if (elements.isEmpty()) {
        result.status = Status::NoEntries;
        return result;
    }
    result.status = Status::Read;
    for (const QJsonValue &element : elements) {
        const QJsonObject object = element.toObject();
        if (!object.contains(QLatin1String("Width")) || !object.contains(QLatin1String("Height")))
            continue;
        ResolutionEntry entry {
            memberText(object, QStringLiteral("Height")), memberText(object, QStringLiteral("Width"))};
        // A size that is not a positive number would reach the game as 0.
        if (!isPositiveNumber(entry.width) || !isPositiveNumber(entry.height))
            continue;
        result.entries.append(entry);
    }
    return result;
}

QString qualityWord(int quality, const char *context)
{
    // The same words in both contexts that show them; the second row is there for lupdate.
    static const char *const words[][3] = {
        {QT_TRANSLATE_NOOP("QObject", "低"), QT_TRANSLATE_NOOP("QObject", "中"),
            QT_TRANSLATE_NOOP("QObject", "高")},
        {QT_TRANSLATE_NOOP("SettingsDialog", "低"), QT_TRANSLATE_NOOP("SettingsDialog", "中"),
            QT_TRANSLATE_NOOP("SettingsDialog", "高")},
    };
    if (quality < 0 || quality > 2)
        return QString();
    return QCoreApplication::translate(context, words[0][quality]);
}
