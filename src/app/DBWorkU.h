#pragma once

#include "NameValueList.h"
#include "OperatorUi.h"

#include <QWidget>
#include <memory>

namespace Ui {
class TFormDB;
}

// The main window: the connection panel on top, the three working tabs below, and the state
// every operation shares.
class TFormDB : public QWidget
{
    Q_OBJECT

public:
    explicit TFormDB(OperatorUi& operatorUi, QWidget* parent = nullptr);
    ~TFormDB() override;

    static QString captionPrefix();

    QString _ConnectString;
    QString _InstallDir;
    QString _CurrentDBName;
    QString _ApprNamePathName;
    qint64 _MaxSizeAddDB = 0;
    QString _DBNameFileAdd;
    NameValueList _ListDBPath;

private:
    // Start-up: runs once while the window is created; an error ends it and is reported.
    void FormCreate();

    std::unique_ptr<Ui::TFormDB> ui;
    OperatorUi& m_operator;
};
