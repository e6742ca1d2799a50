#include "XMLUtils.h"

#include "MyException.h"
#include "PathMacros.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

QString composeLoadMessage(const QString& leadMsg, bool addFileText, const QString& fileText)
{
    if (!addFileText)
        return leadMsg;
    if (leadMsg.isEmpty())
        return fileText;
    return leadMsg + u"\r\n"_s + fileText;
}

// Reads and parses the file; the parser's error lines, or none on success.
QStringList parseFile(QDomDocument& doc, const QString& path)
{
    QFile file(path);
    if (file.size() > maxXmlFileSize)
        return {u"Файл больше %1 байт."_s.arg(maxXmlFileSize)};
    if (!file.open(QIODevice::ReadOnly))
        return {file.errorString()};
    QString error;
    int line = 0;
    int column = 0;
    if (doc.setContent(&file, &error, &line, &column))
        return {};
    // One pass, so a "%" in the parser's text is never taken for a place holder.
    return {
        u"Строка %1, позиция %2: %3"_s.arg(QString::number(line), QString::number(column), error)};
}

} // namespace

bool LoadXML(QDomDocument* doc, const QString& path, bool raiseOnFailure, const QString& leadMsg,
             bool addFileText)
{
    if (doc == nullptr)
        throw MyException(u"LoadXML"_s, u"XML=nil"_s);
    const QString expanded = ExpandMacros(path);
    const QFileInfo info(expanded);
    if (!info.exists() || info.isDir()) {
        if (!raiseOnFailure)
            return false;
        const QString fileText = u"Файл по пути \""_s + expanded + u"\" не найден"_s;
        throw MyException(QString(), composeLoadMessage(leadMsg, addFileText, fileText));
    }
    const QStringList errors = parseFile(*doc, expanded);
    if (errors.isEmpty())
        return true;
    if (!raiseOnFailure)
        return false;
    QString fileText = u"Файл по пути \""_s + expanded + u"\" не удалось прочитать.\r\n"_s;
    for (const QString& error : errors)
        fileText += error + u"\r\n"_s;
    throw MyException(QString(), composeLoadMessage(leadMsg, addFileText, fileText));
}

void LoadDBList(const QString& path, DBCatalogue& catalogue)
{
    catalogue.items.clear();
    catalogue.paths.clear();
    const QString expanded = ExpandMacros(path);
    if (!QFileInfo(expanded).isFile())
        return;
    QDomDocument doc;
    LoadXML(&doc, expanded, true, u"Список названий баз данных не загружен."_s, true);
    // The catalogue is the last node at the top level; normally the root element.
    const QDomNode catalogueNode = doc.lastChild();
    if (catalogueNode.isNull())
        return;
    for (QDomNode node = catalogueNode.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement entry = node.toElement();
        const QString name = entry.attribute(u"name"_s);
        catalogue.items.append(name);
        QString value;
        for (const QString& attribute :
             {u"path_mdf"_s, u"default_mdf"_s, u"path_ldf"_s, u"default_ldf"_s})
            value += entry.attribute(attribute) + u'\t';
        catalogue.paths.setValue(name, value);
    }
}
