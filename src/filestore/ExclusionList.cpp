#include "ExclusionList.h"

#include "FileMask.h"
#include "MyException.h"
#include "PathText.h"
#include "StoredPath.h"
#include "TextDecoding.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString exclusionFileName = u"exclusion_mask_backup_file.txt"_s;
const QString defaultExclusions = u"default.udl\r\n*.ldf\r\n*.mdf\r\n*.bak"_s;

QStringList splitLines(const QString& text)
{
    QString normal = text;
    normal.replace(u"\r\n"_s, u"\n"_s);
    normal.replace(u'\r', u'\n');
    QStringList lines = normal.split(u'\n');
    // A line break ends the last line rather than starting an empty one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString exclusionText(const QByteArray& bytes)
{
    // UTF-16 written big-endian; everything else as configuration files are read.
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    return platform::decodeConfigText(bytes);
}

} // namespace

QStringList LoadExclusionList(const QString& settingsDir)
{
    const QString path = pathtext::withTrailingSeparator(settingsDir) + exclusionFileName;
    const QString local = filestore::localPath(path);
    if (!QFileInfo::exists(local))
        return splitLines(defaultExclusions);
    const std::optional<QByteArray> bytes = platform::readConfigFile(local);
    if (!bytes)
        throw Error(u"Не удалось прочитать файл \""_s + path + u"\"."_s);
    return splitLines(exclusionText(*bytes));
}

bool IsExcludedFile(const QString& fileName, const QStringList* exclusions)
{
    if (exclusions == nullptr)
        return false;
    const QString name = fileName.toLower();
    for (const QString& mask : *exclusions) {
        if (MatchesMask(name, mask.toLower()))
            return true;
    }
    return false;
}
