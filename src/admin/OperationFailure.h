#pragma once

#include "MyException.h"

#include <QString>
#include <exception>

class ServerDisk;

// The operator's texts for an operation on the server that failed; shared by backup, restore and
// attach.
namespace admin {

QString folderError(const QString& folder);
// The operator's message, then whose disk or rights are at fault when the server's error says.
QString withHint(QString message, ServerDisk& disk, const std::exception& error,
                 const QString& path);
// A failure as the operator reads it: what failed and whose disk or rights the server's error
// points at, then the server's own words, then the right the login lacks when the server
// refused for lack of one (neededRight). Without a disk, the message and the server's words.
MyException failure(QString message, ServerDisk* disk, const std::exception& error,
                    const QString& path, const QString& needed);
// Makes a folder on the server's disk; its refusal throws the folder error (naming shown) with
// the server's.
void makeServerFolder(ServerDisk& disk, const QString& folder, const QString& shown);

} // namespace admin
