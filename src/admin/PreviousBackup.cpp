#include "PreviousBackup.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

// A name beside the file that nothing holds yet: a run that was killed may have left one.
QString freeAsideName(const QString& file)
{
    QString name = file + u".previous"_s;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = file + u".previous"_s + QString::number(n);
    return name;
}

// "x.bak.previous" is the first, "x.bak.previous2" and on the later ones.
QStringList leftoverNames(const QString& file)
{
    QStringList names;
    for (int n = 1;; ++n) {
        const QString name = file + u".previous"_s + (n == 1 ? QString() : QString::number(n));
        if (!QFileInfo(name).isFile())
            break;
        names << name;
    }
    return names;
}

} // namespace

QString PreviousBackup::recoverLeftover(const QString& backupFile)
{
    const QFileInfo info(backupFile);
    if (backupFile.isEmpty() || info.exists() || info.isSymLink())
        return {};
    const QStringList leftovers = leftoverNames(backupFile);
    if (leftovers.isEmpty())
        return {};
    const QString leftover = leftovers.last();
    QFile file(leftover);
    if (!file.rename(backupFile))
        return u"Резервная копия \""_s + backupFile + u"\" осталась в файле \""_s + leftover +
               u"\" после прерванного запуска, вернуть её не удалось: "_s + file.errorString();
    return u"Резервная копия \""_s + backupFile + u"\" возвращена из файла \""_s + leftover +
           u"\", оставленного прерванным запуском."_s;
}

PreviousBackup::PreviousBackup(const QString& backupFile) : m_file(backupFile)
{
    const QFileInfo info(backupFile);
    if (!info.isFile())
        return;
    const QString aside = freeAsideName(backupFile);
    QFile file(backupFile);
    if (!file.rename(aside)) {
        m_notKept = u"Прежняя резервная копия \""_s + backupFile +
                    u"\" не сохранена на время записи новой (её нельзя переместить: "_s +
                    file.errorString() + u"): сервер пишет новую копию поверх неё."_s;
        return;
    }
    m_aside = aside;
}

PreviousBackup::~PreviousBackup()
{
    restore();
}

void PreviousBackup::discard()
{
    if (m_aside.isEmpty())
        return;
    // A copy that cannot be deleted is only a file too many; the backup itself stands.
    QFile::remove(m_aside);
    m_aside.clear();
}

QString PreviousBackup::restore()
{
    if (m_aside.isEmpty())
        return {};
    const QString aside = m_aside;
    m_aside.clear();
    // What the server left under the name is a broken backup at best.
    if (QFileInfo(m_file).isFile() || QFileInfo(m_file).isSymLink())
        QFile::remove(m_file);
    QFile file(aside);
    if (file.rename(m_file))
        return {};
    return u"Прежняя резервная копия осталась в файле \""_s + aside + u"\": "_s +
           file.errorString();
}
