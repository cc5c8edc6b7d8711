#include "platform/InstallLayout.h"

#include "platform/InstallLayoutPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QStringList ShippedFilePlaces(const QString& fileName, TShippedFolder folder)
{
    const QDir exeDir(QCoreApplication::applicationDirPath());
    const char* relative = folder == TShippedFolder::PrivateLibrary ? CORVANTA_REL_PRIVLIBDIR : CORVANTA_REL_DOCDIR;
    return {exeDir.absoluteFilePath(fileName),
            QDir::cleanPath(exeDir.absoluteFilePath(QString::fromUtf8(relative)) + u'/' + fileName)};
}

QString FindShippedFile(const QString& fileName, TShippedFolder folder)
{
    for (const QString& place : ShippedFilePlaces(fileName, folder))
        if (QFileInfo(place).isFile())
            return place;
    return QString();
}

QStringList ShippedFolders(const QString& fileName, TShippedFolder folder)
{
    QStringList folders;
    for (const QString& place : ShippedFilePlaces(fileName, folder))
        folders << QDir::toNativeSeparators(QFileInfo(place).absolutePath());
    return folders;
}
