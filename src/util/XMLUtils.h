#pragma once

#include "NameValueList.h"

#include <QString>
#include <QStringList>

class QDomDocument;

// Loads an XML file into doc. On failure raises MyException (raiseOnFailure) with leadMsg and,
// when addFileText is set, what went wrong with which file; otherwise returns false.
bool LoadXML(QDomDocument* doc, const QString& path, bool raiseOnFailure, const QString& leadMsg,
             bool addFileText);

// The catalogue of known databases: the entries' names in file order (for the name box) and, per
// name, its four paths (data file, its fallback, log file, its fallback), each followed by a TAB.
struct DBCatalogue
{
    QStringList items;
    NameValueList paths;
};

// Reads the catalogue file into catalogue, emptied first. A missing file leaves it empty.
void LoadDBList(const QString& path, DBCatalogue& catalogue);

// Larger catalogue files are refused unread: a catalogue has tens of entries, and a document
// tree of a huge file would take memory without bound.
constexpr qint64 maxXmlFileSize = 32 * 1024 * 1024;
